// The create flow: mount a chosen folder or drive on the empty folder.
#include "shell/reparsepoint/reparsepoint_object.h"

#include "ntfs/paths.h"
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
        // NTFS names ignore case: D:\A chosen for D:\a is the folder itself.
        if (IsSamePath(target, folderPath_)) {
            Say(owner, kCannotMountItself, MB_ICONERROR);
            continue;
        }
        if (IsAncestorPath(target, folderPath_) && Say(owner, kAncestorWarning, MB_ICONWARNING | MB_YESNO) != IDYES)
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
    if (!ChooseTarget(owner, folderPath_, target)) return;
    if (MountTarget(folderPath_, target) == 0)
        Say(owner, kMountSet, MB_ICONINFORMATION);
    else
        Say(owner, kMountNotSet, MB_ICONERROR);
    SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHW, folderPath_, nullptr);
}

} // namespace kestrune
