// The information dialog's flows: remove the mount, or replace it with another target.
#include "shell/reparsepoint/reparsepoint_object.h"

#include <shlobj.h>

#include <cwchar>
#include <memory>
#include <new>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse_kind.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/volumes/volumes.h"
#include "shell/reparsepoint/reparse_info_dialog.h"
#include "shell/reparsepoint/reparsepoint_texts.h"

namespace kestrune {
namespace {

bool IsVolumeMount(const SavedReparse& saved) {
    const auto* record = reinterpret_cast<const MountPointRecord*>(saved.bytes);
    const DWORD offset = kPathBufferOffset + record->substituteNameOffset;
    return record->reparseTag == kMountPointTag && record->substituteNameLength >= 22 && offset + 22 <= saved.size &&
           memcmp(saved.bytes + offset, L"\\??\\Volume{", 22) == 0;
}

} // namespace

void ReparsePointObject::RemoveMountFlow(HWND dialog) {
    // A folder link goes as a whole, whatever the folder it leads to holds.
    bool link = GetReparseKind(folderPath_) == ReparseKind::DirectoryLink;
    int status = !StillTheFolder() ? -1 : link ? (Kernel().RemoveDirectoryW(folderPath_) ? 0 : -3) : RemoveMount(dialog);
    if (status == 0) {
        SetDlgItemTextW(dialog, kTargetEdit, L"");
        EnableWindow(GetDlgItem(dialog, kRemoveButton), FALSE); // nothing is left to remove
        Say(dialog, link ? kLinkRemoved : kRemoved, MB_ICONINFORMATION);
        NotifyChanged(true);
    } else if (status == kDeclined) {
        Say(dialog, kElevationDeclined, MB_ICONWARNING);
    } else {
        Say(dialog, link ? kLinkRemoveFailed : kRemoveFailed, MB_ICONERROR);
        NotifyChanged(false);
    }
}

// The new target is checked before anything is removed. A junction replaces a junction in one
// write; any other change removes the old mount first, and when the new one cannot be set the
// old record is put back as it was saved (a volume through the mount manager).
void ReparsePointObject::ChangeMountFlow(HWND dialog, const wchar_t* shownTarget) {
    if (!OffersChange() || GetReparseKind(folderPath_) == ReparseKind::DirectoryLink) return;
    wchar_t target[MAX_PATH];
    if (!ChooseTarget(dialog, IsExistingFolder(shownTarget) ? shownTarget : folderPath_, target)) return;
    std::unique_ptr<SavedReparse> saved(new (std::nothrow) SavedReparse);
    int read = saved ? SaveReparsePoint(folderPath_, *saved) : -4;
    const bool mounted = read == 0;
    if (!StillTheFolder() || !CanBeMounted(target) || (read != 0 && HasReparsePoint(folderPath_))) {
        Say(dialog, kNotChanged, MB_ICONERROR); // nothing was touched
        return;
    }
    wchar_t oldTarget[MAX_PATH] = {};
    if (mounted && GetReparseTarget(folderPath_, oldTarget) != 0) oldTarget[0] = L'\0';
    const bool inPlace = mounted && !IsDriveRoot(target) && !IsVolumeMount(*saved);
    if (mounted && !inPlace) {
        int removed = RemoveMount(dialog);
        if (removed != 0) {
            Say(dialog, removed == kDeclined ? kElevationDeclined : kRemoveFailed, MB_ICONWARNING);
            return;
        }
    }
    if (SetMount(dialog, target) == 0) {
        AddTrailingBackslash(target);
        SetDlgItemTextW(dialog, kTargetEdit, target);
        EnableWindow(GetDlgItem(dialog, kRemoveButton), TRUE);
        Say(dialog, kChanged, MB_ICONINFORMATION);
        NotifyChanged(true);
    } else if (!mounted || inPlace) {
        Say(dialog, kNotChanged, MB_ICONERROR); // the old mount was never touched
    } else if (RestoreMount(dialog, *saved, oldTarget) == 0) {
        Say(dialog, kNotChangedRestored, MB_ICONERROR);
        NotifyChanged(true);
    } else {
        SetDlgItemTextW(dialog, kTargetEdit, L"");
        EnableWindow(GetDlgItem(dialog, kRemoveButton), FALSE);
        Say(dialog, kNotChangedUnmounted, MB_ICONERROR);
        NotifyChanged(true);
    }
}

} // namespace kestrune
