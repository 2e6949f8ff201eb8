// The drop handler's role: accept one file dropped on a folder of its volume, offer one item,
// and create the link.
#include "shell/hardlink/hardlink_object.h"

#include <climits>
#include <cwchar>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/volumes/volumes.h"
#include "server/last_error.h"
#include "shell/activation_context.h"
#include "shell/bounded_text.h"
#include "shell/command_verb.h"
#include "shell/dropped_path.h"
#include "shell/ui_language.h"

namespace kestrune {
namespace {

// "%s\%s%s" and its series: the file's own name, then the first prefix, then the numbered one.
bool BuildCandidate(wchar_t (&out)[MAX_PATH], const wchar_t* folder, int counter, const wchar_t* name,
                    const wchar_t* ext) {
    wchar_t prefix[MAX_PATH] = {};
    if (counter == 2) LoadUiString(kFirstLinkNamePrefix, prefix, MAX_PATH);
    if (counter > 2 && swprintf(prefix, MAX_PATH, UiText(kNumberedLinkNamePrefix), counter - 1) < 0) return false;
    BoundedText text(out, MAX_PATH);
    text.AppendFolder(folder).Append(prefix).Append(name).Append(ext);
    return text.Fits();
}

} // namespace

HRESULT HardLinkObject::Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY) {
    if (!data || !folder) return E_INVALIDARG;
    if (!SHGetPathFromIDListW(folder, targetFolder_)) return E_INVALIDARG;
    HRESULT dropped = GetSingleDroppedPath(data, droppedFile_);
    if (dropped != S_OK) return dropped;
    if (!IsNTFSVolume(droppedFile_) || !IsExistingFile(droppedFile_)) return E_INVALIDARG;
    // The probe stands for a file inside the target, so a target that is itself a junction or a
    // mount point counts with the volume it leads to.
    wchar_t probe[MAX_PATH];
    BoundedText text(probe, MAX_PATH);
    text.AppendFolder(targetFolder_).Append(L"dummy.tmp");
    if (!text.Fits()) return E_INVALIDARG;
    return IsSameVolume(probe, droppedFile_) ? S_OK : E_INVALIDARG;
}

HRESULT HardLinkObject::QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT, UINT flags) {
    if (flags & CMF_DEFAULTONLY) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    InsertMenuW(menu, index, MF_BYPOSITION | MF_STRING, firstCommand, UiText(kCreateHardLinkMenuText));
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

// A failure told to the user is handled (S_OK); one that may not be told is the caller's.
HRESULT HardLinkObject::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    if (!InvokesCommand(info, MenuCommand::kCreateHardLink)) return E_INVALIDARG;
    bool quiet = WantsNoUi(info);
    ScopedActivation themed;
    if (CreateLinkInTarget(info->hwnd, !quiet) || !quiet) return S_OK;
    return LastErrorResult();
}

HRESULT HardLinkObject::GetCommandString(UINT_PTR command, UINT type, UINT*, CHAR* name, UINT chars) {
    return AnswerCommandString(MenuCommand::kCreateHardLink, command, type, name, chars);
}

bool HardLinkObject::CreateLinkInTarget(HWND owner, bool showFailure) {
    wchar_t name[kPathPartChars], ext[kPathPartChars];
    SplitPath(droppedFile_, nullptr, nullptr, name, ext);
    wchar_t candidate[MAX_PATH];
    bool fits = BuildCandidate(candidate, targetFolder_, 1, name, ext);
    for (int counter = 2; fits && (IsExistingFile(candidate) || IsExistingFolder(candidate)); ++counter) {
        if (counter == INT_MAX) {
            fits = false;
            break;
        }
        fits = BuildCandidate(candidate, targetFolder_, counter, name, ext);
    }
    if (fits && Kernel().CreateHardLinkW(candidate, droppedFile_, nullptr)) {
        SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, candidate, nullptr);
        SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, droppedFile_, nullptr);
        return true;
    }
    if (!fits) SetLastError(ERROR_FILENAME_EXCED_RANGE);
    if (showFailure) MessageBoxW(owner, UiText(kCreateHardLinkFailedText), caption_, MB_ICONERROR);
    return false;
}

} // namespace kestrune
