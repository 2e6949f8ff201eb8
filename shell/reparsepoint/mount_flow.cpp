// The create flow: mount a chosen folder or drive on the empty folder.
#include "shell/reparsepoint/reparsepoint_object.h"

#include <cwchar>

#include "ntfs/paths.h"
#include "ntfs/volumes/volumes.h"
#include "ntfs/reparse/reparse.h"
#include "shell/reparsepoint/browse_for_target.h"
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
    bool set = StillTheFolder() && MountTarget(folderPath_, target) == 0;
    Say(owner, set ? kMountSet : kMountNotSet, set ? MB_ICONINFORMATION : MB_ICONERROR);
    NotifyChanged(set);
}

} // namespace kestrune
