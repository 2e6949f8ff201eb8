// The menu role: one item for one empty folder or one folder that carries a reparse point.
#include "shell/reparsepoint/reparsepoint_object.h"

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse_kind.h"
#include "ntfs/volumes/volumes.h"
#include "shell/activation_context.h"
#include "shell/dropped_path.h"
#include "shell/command_verb.h"
#include "shell/reparsepoint/reparse_info_dialog.h"
#include "shell/reparsepoint/reparsepoint_texts.h"
#include "shell/ui_language.h"

namespace kestrune {
HRESULT ReparsePointObject::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
    if (!data) return E_INVALIDARG;
    HRESULT selected = GetSingleDroppedPath(data, folderPath_);
    if (selected != S_OK) {
        folderPath_[0] = L'\0';
        return selected;
    }
    if (!IsNTFSVolume(folderPath_) || !IsExistingFolder(folderPath_)) return E_INVALIDARG;
    if (!ReadIdentity(folderPath_, true, identity_)) return E_INVALIDARG;
    // A drive's root can never become a mount point, and Wine reports the root of a mounted drive
    // as a reparse point whose record cannot be read.
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

MenuCommand ReparsePointObject::ItemCommand() const {
    return FolderHasReparsePoint() ? MenuCommand::kMountInformation : MenuCommand::kCreateMount;
}

// Both flows ask the user (a target, or what to do with the mount): a caller that wants no
// user interface gets nothing done, and is told so.
HRESULT ReparsePointObject::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    MenuCommand command = ItemCommand();
    if (!InvokesCommand(info, command)) return E_INVALIDARG;
    if (WantsNoUi(info)) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    // The flows are modal and pump messages: the object stays alive until they end.
    IContextMenu* self = this;
    self->AddRef();
    {
        ScopedActivation themed;
        if (command == MenuCommand::kMountInformation)
            ReparseInfoDialog(*this, info->hwnd);
        else
            CreateMountFlow(info->hwnd);
    }
    self->Release();
    return S_OK;
}

HRESULT ReparsePointObject::GetCommandString(UINT_PTR command, UINT type, UINT*, CHAR* name, UINT chars) {
    return AnswerCommandString(ItemCommand(), command, type, name, chars);
}

} // namespace kestrune
