// The drop handler's role: accept the items dropped on a folder, offer each kind of link that every
// item can take, and make the chosen kind on a worker.
#include "shell/hardlink/hardlink_object.h"

#include <shellapi.h>

#include <cwchar>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/volumes/volumes.h"
#include "server/last_error.h"
#include "shell/activation_context.h"
#include "shell/bounded_text.h"
#include "shell/command_verb.h"
#include "shell/dropped_path.h"
#include "shell/ui_language.h"

namespace kestrune {
namespace {

constexpr unsigned Bit(LinkKind kind) { return 1u << static_cast<unsigned>(kind); }
constexpr unsigned kEveryKind = Bit(LinkKind::Hard) | Bit(LinkKind::Symbolic) | Bit(LinkKind::Junction);
constexpr UINT kMenuTexts[] = {kCreateHardLinkMenuText, kCreateSymbolicLinkMenuText, kCreateJunctionMenuText};
constexpr MenuCommand kDropCommands[] = {MenuCommand::kCreateHardLink, MenuCommand::kCreateSymbolicLink,
                                         MenuCommand::kCreateJunction};

// A local drive a junction can lead to or live on: not a share, not a mapped network drive.
bool IsLocalFolder(const wchar_t* path) { return IsMountableTarget(path) && !IsNetworkPath(path); }

} // namespace

// Hard links: files on the target's volume. Symbolic links: anything, into a local NTFS folder.
// Junctions: folders on local drives, into a local NTFS folder.
unsigned HardLinkObject::OffersFor() const {
    if (!IsNTFSVolume(targetFolder_) || IsNetworkPath(targetFolder_)) return 0;
    unsigned offers = IsLocalFolder(targetFolder_) ? kEveryKind : kEveryKind & ~Bit(LinkKind::Junction);
    // The probe stands for a file inside the target, so a target that is itself a junction or a
    // mount point counts with the volume it leads to.
    wchar_t probe[MAX_PATH];
    BoundedText text(probe, MAX_PATH);
    text.AppendFolder(targetFolder_).Append(L"dummy.tmp");
    if (!text.Fits()) return 0;
    // Items of one folder share its volume: the check is made once for each run of them.
    wchar_t checkedFolder[MAX_PATH] = {};
    bool folderFits = false;
    for (size_t i = 0; i < dropped_.Count() && offers; ++i) {
        const wchar_t* item = dropped_[i];
        wchar_t literal[kLiteralPathChars];
        DWORD attributes = LiteralPath(item, literal) ? Kernel().GetFileAttributesW(literal) : INVALID_FILE_ATTRIBUTES;
        if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
        offers &= (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ~Bit(LinkKind::Hard) : ~Bit(LinkKind::Junction);
        if ((offers & Bit(LinkKind::Junction)) && !IsLocalFolder(item)) offers &= ~Bit(LinkKind::Junction);
        if (!(offers & Bit(LinkKind::Hard))) continue;
        size_t folderLength = static_cast<size_t>(wcsrchr(item, L'\\') ? wcsrchr(item, L'\\') - item : 0);
        if (folderLength != wcslen(checkedFolder) || _wcsnicmp(checkedFolder, item, folderLength) != 0) {
            wmemcpy(checkedFolder, item, folderLength);
            checkedFolder[folderLength] = L'\0';
            folderFits = IsNTFSVolume(item) && IsSameVolume(probe, item);
        }
        if (!folderFits) offers &= ~Bit(LinkKind::Hard);
    }
    return offers;
}

HRESULT HardLinkObject::Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY) {
    offers_ = 0;
    dropped_.Clear();
    if (!data || !folder) return E_INVALIDARG;
    if (!SHGetPathFromIDListW(folder, targetFolder_)) return E_INVALIDARG;
    HRESULT dropped = GetDroppedPaths(data, dropped_);
    if (dropped != S_OK) return dropped;
    offers_ = OffersFor();
    return offers_ ? S_OK : E_INVALIDARG;
}

// Each kind keeps its own command offset (0 hard, 1 symbolic, 2 junction), offered or not.
HRESULT HardLinkObject::QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand, UINT flags) {
    if ((flags & CMF_DEFAULTONLY) || !offers_) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    UINT used = 0;
    for (UINT kind = 0; kind < 3; ++kind) {
        if (!(offers_ & (1u << kind)) || firstCommand + kind > lastCommand) continue;
        InsertMenuW(menu, index++, MF_BYPOSITION | MF_STRING, firstCommand + kind, UiText(kMenuTexts[kind]));
        used = kind + 1;
    }
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, used);
}

// A failure told to the user is handled (S_OK); one that may not be told is the caller's.
HRESULT HardLinkObject::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    if (!info) return E_INVALIDARG;
    for (UINT kind = 0; kind < 3; ++kind) {
        if (!InvokesCommand(info, kDropCommands[kind], kind)) continue;
        if (!(offers_ & (1u << kind))) return E_INVALIDARG;
        bool ui = !WantsNoUi(info);
        ScopedActivation themed;
        // Explorer's thread never waits for the links: a worker makes them.
        if (StartLinkJob(static_cast<LinkKind>(kind), targetFolder_, dropped_, info->hwnd, ui)) return S_OK;
        if (!ui) return LastErrorResult();
        MessageBoxW(info->hwnd, UiText(kCreateHardLinkFailedText), caption_, MB_ICONERROR);
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT HardLinkObject::GetCommandString(UINT_PTR command, UINT type, UINT*, CHAR* name, UINT chars) {
    bool offered = command < 3 && (offers_ & (1u << command));
    if (!offered) return type == GCS_VALIDATEA || type == GCS_VALIDATEW ? S_FALSE : E_INVALIDARG;
    return AnswerCommandString(kDropCommands[command], command, type, name, chars, command);
}

void HardLinkObject::MakeLinks(LinkKind kind, HWND owner, bool ui) {
    if (offers_ & Bit(kind)) RunLinkJob(kind, targetFolder_, dropped_, owner, ui);
}

} // namespace kestrune
