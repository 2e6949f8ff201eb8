// The menu role: one item for one empty folder or one folder that carries a reparse point.
#include "shell/reparsepoint/reparsepoint_object.h"

#include <algorithm>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse_kind.h"
#include "ntfs/volumes/volumes.h"
#include "shell/dropped_path.h"
#include "shell/command_verb.h"
#include "shell/reparsepoint/reparse_info_dialog.h"
#include "shell/reparsepoint/reparsepoint_texts.h"
#include "shell/ui_language.h"

namespace kestrune {
namespace {

// The longest whole-character prefix of `text` that fits `bytes` bytes of the ANSI code page
// with its terminator: a double-byte character is never cut in half.
void CopyAnsi(const wchar_t* text, char* out, UINT bytes) {
    int chars = static_cast<int>(wcslen(text));
    int needed = 0;
    for (; chars > 0; --chars) {
        needed = WideCharToMultiByte(CP_ACP, 0, text, chars, nullptr, 0, nullptr, nullptr);
        if (needed > 0 && static_cast<UINT>(needed) < bytes) break;
    }
    if (chars > 0) WideCharToMultiByte(CP_ACP, 0, text, chars, out, needed, nullptr, nullptr);
    out[chars > 0 ? needed : 0] = '\0';
}

// "E:\": a drive's root can never become a mount point, and Wine reports the root of a mounted
// drive as a reparse point whose record cannot be read.
bool IsDriveRoot(const wchar_t* path) { return wcslen(path) == 3 && path[1] == L':' && path[2] == L'\\'; }

} // namespace

HRESULT ReparsePointObject::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
    if (!data) return E_INVALIDARG;
    HRESULT selected = GetSingleDroppedPath(data, folderPath_);
    if (selected != S_OK) {
        folderPath_[0] = L'\0';
        return selected;
    }
    if (!IsNTFSVolume(folderPath_) || !IsExistingFolder(folderPath_)) return E_INVALIDARG;
    if (!ReadIdentity(folderPath_, true, identity_)) return E_INVALIDARG;
    if (IsDriveRoot(folderPath_)) {
        wchar_t target[MAX_PATH];
        DWORD tag = 0;
        return ReadLinkTarget(folderPath_, target, &tag) == 0 ? S_OK : E_INVALIDARG;
    }
    remote_ = IsNetworkPath(folderPath_) != 0;
    ReparseKind kind = GetReparseKind(folderPath_);
    if (kind == ReparseKind::Unreadable || LeadsElsewhere(kind)) return S_OK;
    // A folder served in place (a sync root's placeholder) keeps its own reparse point, and an item
    // takes only one: it is offered nothing.
    return kind == ReparseKind::None && !remote_ && IsFolderEmpty(folderPath_) ? S_OK : E_INVALIDARG;
}

HRESULT ReparsePointObject::QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT, UINT flags) {
    if (flags & CMF_DEFAULTONLY) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    UiText text(FolderHasReparsePoint() ? kInfoMenuText : kCreateMenuText);
    InsertMenuW(menu, index, MF_BYPOSITION | MF_STRING, firstCommand, text);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
}

HRESULT ReparsePointObject::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    if (!info || !IsCommandOffset(info->lpVerb, 0)) return E_INVALIDARG;
    // The flows are modal and pump messages: the object stays alive until they end.
    IContextMenu* self = this;
    self->AddRef();
    if (FolderHasReparsePoint())
        ReparseInfoDialog(*this, info->hwnd);
    else
        CreateMountFlow(info->hwnd);
    self->Release();
    return S_OK;
}

// Every request with GCS_HELPTEXTA's bit answers the help text: an ANSI request in the ANSI code
// page within `chars` bytes, the wide requests within `chars` wide characters.
HRESULT ReparsePointObject::GetCommandString(UINT_PTR, UINT type, UINT*, CHAR* name, UINT chars) {
    if (!(type & (GCS_HELPTEXTA | GCS_UNICODE))) return E_FAIL;
    if (!name || chars == 0) return E_INVALIDARG;
    UiText text(FolderHasReparsePoint() ? kInfoHelpText : kCreateHelpText);
    if (type & GCS_UNICODE)
        lstrcpynW(reinterpret_cast<wchar_t*>(name), text, static_cast<int>(std::min<UINT>(chars, INT_MAX)));
    else
        CopyAnsi(text, name, chars);
    return S_OK;
}

} // namespace kestrune
