// Every path of a file on the volume that holds it: the file system's own list of its names where
// the system has one, else a scan of the drive that reads each folder once.
#include "ntfs/links/hardlinks.h"

#include "ntfs/kernel.h"
#include "ntfs/links/link_target.h"
#include "ntfs/paths.h"
#include "ntfs/volumes/volumes.h"

#include <cwchar>

namespace kestrune {

bool ShouldGoOn(HANDLE event) { return !event || Kernel().WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

int EnumerateHardLinks(const wchar_t* path, wchar_t* text, size_t textChars, HANDLE event) {
    if (!path || !text || textChars == 0 || BoundedPathLength(path) >= MAX_PATH) return -1;
    // A "\\?\" path is full as it stands, and keeps a name ending in a dot or a space.
    wchar_t full[MAX_PATH];
    if (wcsncmp(path, L"\\\\?\\", 4) == 0)
        wcscpy(full, path);
    else if (!GetFullPath(path, full))
        return -1;
    // The scan starts at the root of the volume that holds the file, as the path reached it: through
    // a junction, a SUBST letter or a folder mount, the file lies elsewhere than on its path's drive.
    VolumePlace place;
    if (LocateVolume(full, place) != 0 || !IsNTFSPlace(place)) return -1;
    LinkTarget target;
    if (!target.Read(full)) return -1;

    text[0] = L'\0';
    LinkText lines{text, textChars};
    LinkSearch search = ListLinksByName(full, place.root, target, lines, event);
    if (search != LinkSearch::Done && place.network) {
        // A share is never walked: every folder would be a round trip to the server.
        return search == LinkSearch::Unavailable ? kLinksOnNetworkDrive : -1;
    } else if (search == LinkSearch::Unavailable) {
        search = WalkForLinks(place.root, &target, &lines, event);
    } else if (search == LinkSearch::Done && !lines.found && !place.network) {
        // No path of the file is in reach of the scan; the scan would still fail when the drive
        // holds no file it would read at all.
        search = WalkForLinks(place.root, nullptr, nullptr, event);
    }
    if (search != LinkSearch::Done) return -1;
    return ShouldGoOn(event) ? lines.count : -1;
}

} // namespace kestrune
