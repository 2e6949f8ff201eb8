#include "shell/reparsepoint/reparsepoint_object.h"

#include <shlobj.h>

#include <cwchar>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/reparse/reparse_kind.h"
#include "shell/ui_language.h"

namespace kestrune {

namespace {
const InterfaceEntry<ReparsePointObject> reparsePointRows[] = {
    {&IID_IReparsePoint, InterfaceOf<ReparsePointObject, IReparsePoint>},
    {&IID_IDispatch, InterfaceOf<ReparsePointObject, IReparsePoint>},
    {&IID_IShellExtInit, InterfaceOf<ReparsePointObject, IShellExtInit>},
    {&IID_IContextMenu, InterfaceOf<ReparsePointObject, IContextMenu>},
    {&IID_IShellIconOverlayIdentifier, InterfaceOf<ReparsePointObject, IShellIconOverlayIdentifier>},
};
} // namespace

const InterfaceTable<ReparsePointObject> ReparsePointObject::interfaces = MakeInterfaceTable(reparsePointRows);

ReparsePointObject::ReparsePointObject() : caption_{}, folderPath_{} {
    LoadUiString(kCaptionText, caption_, 100);
}

bool ReparsePointObject::FolderHasReparsePoint() const {
    ReparseKind kind = GetReparseKind(folderPath_);
    return kind == ReparseKind::Unreadable || LeadsElsewhere(kind);
}

bool ReparsePointObject::StillTheFolder() const {
    FolderIdentity now;
    return ReadIdentity(folderPath_, true, now) && now == identity_;
}

void ReparsePointObject::NotifyChanged(bool mountChanged) const {
    SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW, folderPath_, nullptr);
    if (mountChanged) SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, folderPath_, nullptr);
}

int ReparsePointObject::Say(HWND owner, UINT text, UINT style) const {
    return MessageBoxW(owner, UiText(text), caption_, style);
}

bool IsDriveRoot(const wchar_t* path) { return wcslen(path) == 3 && path[1] == L':' && path[2] == L'\\'; }

bool MountArgument(const wchar_t* target, wchar_t (&argument)[MAX_PATH]) {
    if (IsDriveRoot(target)) return Kernel().GetVolumeNameForVolumeMountPointW(target, argument, MAX_PATH) != FALSE;
    if (BoundedPathLength(target) >= MAX_PATH) return false;
    wcscpy(argument, target);
    return true;
}

bool IsVolumeArgument(const wchar_t* argument) { return wcsncmp(argument, L"\\\\?\\Volume{", 11) == 0; }

int MountByArgument(const wchar_t* folder, const wchar_t* argument) {
    return IsVolumeArgument(argument) ? MountVolumeByName(folder, argument) : SetJunction(folder, argument);
}

} // namespace kestrune
