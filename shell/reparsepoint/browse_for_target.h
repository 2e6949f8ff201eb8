// The folder browser of the mount flows.
#pragma once
#include <windows.h>

namespace kestrune {

// Shows the browser owned by `owner`, opened on `initial` when that is an existing folder, its
// status line following the selection. 1 with the chosen folder's path in `path` (a drive as its
// root, E:\); 0 when the user cancels, the browser cannot be shown or the choice has no path.
int BrowseForTarget(HWND owner, wchar_t (&path)[MAX_PATH], const wchar_t* title, const wchar_t* initial);

} // namespace kestrune
