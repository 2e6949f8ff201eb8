// The create flow: mount a chosen folder or drive on the empty folder.
#include "shell/reparsepoint/reparsepoint_object.h"

#include <cwchar>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/volumes/volumes.h"
#include "shell/reparsepoint/browse_for_target.h"
#include "shell/reparsepoint/elevation.h"
#include "shell/reparsepoint/reparsepoint_texts.h"
#include "shell/ui_language.h"

namespace kestrune {

bool ReparsePointObject::ChooseTarget(HWND owner, const wchar_t* initial, wchar_t (&target)[MAX_PATH]) {
    for (;;) {
        if (!BrowseForTarget(owner, target, UiText(kBrowseTitle), initial)) return false;
        // A junction cannot lead to a network folder: refused before anything is removed.
        if (!IsMountableTarget(target)) {
            Say(owner, kNotLocalTarget, MB_ICONERROR);
            return false;
        }
        // By identity: the folder under another case or its short name, or a place reached
        // through its own mount, is the folder itself.
        if (IsWithin(target, identity_)) {
            Say(owner, kCannotMountItself, MB_ICONERROR);
            continue;
        }
        FolderIdentity chosen;
        if (ReadIdentity(target, false, chosen) && IsWithin(folderPath_, chosen) &&
            Say(owner, kAncestorWarning, MB_ICONWARNING | MB_YESNO) != IDYES)
            continue;
        return true;
    }
}

void ReparsePointObject::CreateMountFlow(HWND owner) {
    if (!IsFolderEmpty(folderPath_)) {
        Say(owner, kOnlyEmptyFolders, MB_ICONERROR);
        return;
    }
    wchar_t target[MAX_PATH];
    // The browser opens on the folder under its long name, however Explorer named it.
    wchar_t initial[MAX_PATH];
    if (!LongPathOf(folderPath_, initial)) wcscpy(initial, folderPath_);
    if (!ChooseTarget(owner, initial, target)) return;
    // The folder may have been replaced while the browser was open: nothing is set on another one.
    int status = StillTheFolder() ? SetMount(owner, target) : -1;
    if (status == 0)
        Say(owner, kMountSet, MB_ICONINFORMATION);
    else
        Say(owner, status == kDeclined ? kElevationDeclined : kMountNotSet, status == kDeclined ? MB_ICONWARNING : MB_ICONERROR);
    NotifyChanged(status == 0);
}

int ReparsePointObject::Elevate(HWND owner, int status, ElevatedOperation operation, const wchar_t* argument) {
    if (status == 0 || GetLastError() != ERROR_ACCESS_DENIED || declined_) return status;
    return RunElevated(owner, operation, argument);
}

int ReparsePointObject::RunElevated(HWND owner, ElevatedOperation operation, const wchar_t* argument) {
    DWORD result = RunElevatedOperation(owner, operation, folderPath_, argument);
    declined_ = result == ERROR_CANCELLED;
    return result == ERROR_SUCCESS ? 0 : declined_ ? kDeclined : -3;
}

int ReparsePointObject::SetMount(HWND owner, const wchar_t* target) {
    wchar_t argument[MAX_PATH];
    if (!MountArgument(target, argument)) return -3;
    SetLastError(ERROR_SUCCESS);
    int status = MountByArgument(folderPath_, argument);
    ElevatedOperation operation = IsVolumeArgument(argument) ? ElevatedOperation::SetVolumeMount : ElevatedOperation::SetJunction;
    return Elevate(owner, status, operation, argument);
}

int ReparsePointObject::RemoveMount(HWND owner) {
    wchar_t target[MAX_PATH];
    bool volume = GetReparseTarget(folderPath_, target) == 0 && wcsncmp(target, L"Volume{", 7) == 0;
    SetLastError(ERROR_SUCCESS);
    int status = RemoveReparsePoint(folderPath_);
    return Elevate(owner, status, volume ? ElevatedOperation::DeleteVolumeMount : ElevatedOperation::DeleteJunction,
                   nullptr);
}

} // namespace kestrune
