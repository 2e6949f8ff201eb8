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

ReparsePointObject::Replaced ReparsePointObject::ReplaceWithOwnToken(const wchar_t* argument, const SavedReparse& saved,
                                                                    bool inPlace) {
    const auto refused = [] { return GetLastError() == ERROR_ACCESS_DENIED; };
    SetLastError(ERROR_SUCCESS);
    if (inPlace)
        return SetJunction(folderPath_, argument) == 0 ? Replaced::Done : refused() ? Replaced::Refused : Replaced::NotSet;
    if (RemoveReparsePoint(folderPath_) != 0) return refused() ? Replaced::Refused : Replaced::NotRemoved;
    SetLastError(ERROR_SUCCESS);
    if (MountByArgument(folderPath_, argument) == 0) return Replaced::Done;
    const bool wasRefused = refused();
    if (RestoreReparsePoint(folderPath_, saved) != 0) return Replaced::Lost;
    return wasRefused ? Replaced::Refused : Replaced::PutBack;
}

ReparsePointObject::Replaced ReparsePointObject::ReplaceElevated(HWND owner, const wchar_t* argument) {
    if (declined_) return Replaced::Declined; // asked once per object
    int status = RunElevated(owner, ElevatedOperation::ReplaceMount, argument);
    if (status == 0) return Replaced::Done;
    if (status == kDeclined) return Replaced::Declined;
    // The helper puts the old record back itself when the new mount cannot be set.
    return HasReparsePoint(folderPath_) ? Replaced::NotSet : Replaced::Lost;
}

// The new target is checked, and a drive's volume named, before anything is removed. A junction
// replaces a junction in one write; any other change removes the old mount first, and when the new
// one cannot be set the old record is put back as it was saved (a volume through the mount
// manager). Where this token is refused, the helper makes the whole change after one prompt.
void ReparsePointObject::ChangeMountFlow(HWND dialog, const wchar_t* shownTarget) {
    if (!OffersChange() || GetReparseKind(folderPath_) == ReparseKind::DirectoryLink) return;
    wchar_t target[MAX_PATH], argument[MAX_PATH];
    if (!ChooseTarget(dialog, IsExistingFolder(shownTarget) ? shownTarget : folderPath_, target)) return;
    std::unique_ptr<SavedReparse> saved(new (std::nothrow) SavedReparse);
    int read = saved ? SaveReparsePoint(folderPath_, *saved) : -4;
    const bool mounted = read == 0;
    if (!StillTheFolder() || !IsExistingFolder(target) || !MountArgument(target, argument) ||
        (read != 0 && HasReparsePoint(folderPath_))) {
        Say(dialog, kNotChanged, MB_ICONERROR); // nothing was touched
        return;
    }
    Replaced outcome;
    if (!mounted) {
        int status = SetMount(dialog, target);
        outcome = status == 0 ? Replaced::Done : status == kDeclined ? Replaced::Declined : Replaced::NotSet;
    } else {
        outcome = ReplaceWithOwnToken(argument, *saved, !IsVolumeArgument(argument) && !IsVolumeMount(*saved));
        if (outcome == Replaced::Refused) outcome = ReplaceElevated(dialog, argument);
    }
    switch (outcome) {
    case Replaced::Done:
        AddTrailingBackslash(target);
        SetDlgItemTextW(dialog, kTargetEdit, target);
        EnableWindow(GetDlgItem(dialog, kRemoveButton), TRUE);
        Say(dialog, kChanged, MB_ICONINFORMATION);
        NotifyChanged(true);
        break;
    case Replaced::Declined: Say(dialog, kElevationDeclined, MB_ICONWARNING); break;
    case Replaced::NotRemoved: Say(dialog, kRemoveFailed, MB_ICONWARNING); break;
    case Replaced::PutBack:
        Say(dialog, kNotChangedRestored, MB_ICONERROR);
        NotifyChanged(true);
        break;
    case Replaced::Lost:
        SetDlgItemTextW(dialog, kTargetEdit, L"");
        EnableWindow(GetDlgItem(dialog, kRemoveButton), FALSE);
        Say(dialog, kNotChangedUnmounted, MB_ICONERROR);
        NotifyChanged(true);
        break;
    default: Say(dialog, kNotChanged, MB_ICONERROR); break; // the old mount as it was
    }
}

} // namespace kestrune
