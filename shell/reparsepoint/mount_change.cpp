// The information dialog's flows: remove the mount, or replace it with another target.
#include "shell/reparsepoint/reparsepoint_object.h"

#include <shlobj.h>

#include <cwchar>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse_kind.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/volumes/volumes.h"
#include "shell/reparsepoint/reparse_info_dialog.h"
#include "shell/reparsepoint/reparsepoint_texts.h"

namespace kestrune {

void ReparsePointObject::RemoveMountFlow(HWND dialog) {
    // A folder link goes as a whole, whatever the folder it leads to holds.
    bool link = GetReparseKind(folderPath_) == ReparseKind::DirectoryLink;
    int status = link ? (Kernel().RemoveDirectoryW(folderPath_) ? 0 : -3) : RemoveMount(dialog);
    if (status == 0) {
        SetDlgItemTextW(dialog, kTargetEdit, L"");
        Say(dialog, link ? kLinkRemoved : kRemoved, MB_ICONINFORMATION);
    } else if (status == kDeclined) {
        Say(dialog, kElevationDeclined, MB_ICONWARNING);
    } else {
        Say(dialog, link ? kLinkRemoveFailed : kRemoveFailed, MB_ICONERROR);
    }
    SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW, folderPath_, nullptr);
}

// The old mount is removed before the new one is set. When the new one cannot be set, the old
// one is put back where its target read back cleanly; only if that fails too is the folder left
// unmounted, and the message says which happened.
void ReparsePointObject::ChangeMountFlow(HWND dialog, const wchar_t* shownTarget) {
    if (GetReparseKind(folderPath_) == ReparseKind::DirectoryLink) return; // a link offers no change
    wchar_t target[MAX_PATH];
    if (!ChooseTarget(dialog, IsExistingFolder(shownTarget) ? shownTarget : folderPath_, target)) return;
    wchar_t oldTarget[MAX_PATH] = {};
    bool removed = false;
    bool restorable = false;
    if (HasReparsePoint(folderPath_)) {
        restorable = GetReparseTarget(folderPath_, oldTarget) == 0; // read back cleanly, or never written back
        int status = RemoveMount(dialog);
        if (status != 0) {
            Say(dialog, status == kDeclined ? kElevationDeclined : kRemoveFailed, MB_ICONWARNING);
            return;
        }
        removed = true;
    }
    // A target reached through the old mount went with it: a junction to it would lead through
    // itself. Such a target counts as one that cannot be set.
    if (IsExistingFolder(target) && SetMount(dialog, target) == 0) {
        AddTrailingBackslash(target);
        SetDlgItemTextW(dialog, kTargetEdit, target);
        Say(dialog, kChanged, MB_ICONINFORMATION);
    } else if (restorable && RestoreMount(dialog, oldTarget) == 0) {
        SetDlgItemTextW(dialog, kTargetEdit, oldTarget);
        Say(dialog, kNotChangedRestored, MB_ICONERROR);
    } else {
        SetDlgItemTextW(dialog, kTargetEdit, L"");
        Say(dialog, removed ? kNotChangedUnmounted : kNotChanged, MB_ICONERROR);
    }
    SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW, folderPath_, nullptr);
}

} // namespace kestrune
