#include "ntfs/overlay_checks.h"

#include <cwchar>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/scoped.h"
#include "ntfs/volumes/volumes.h"

namespace kestrune {
namespace {

// Explorer passes 0 where it knows nothing; then one attribute read stands in.
DWORD KnownAttributes(const wchar_t* path, DWORD attributes) {
    return attributes != 0 ? attributes : Kernel().GetFileAttributesW(path);
}

// The item's attributes and reparse tag, read without opening it: by name where the system offers
// that (Windows 11 24H2), else by a search of its folder, which reports the tag in dwReserved0.
bool ReadTagWithoutOpen(const wchar_t* path, DWORD& attributes, DWORD& tag) {
    if (Kernel().GetFileInformationByName) {
        FileStatBasicInformation stat;
        if (Kernel().GetFileInformationByName(path, kFileStatBasicByNameInfo, &stat, sizeof stat) &&
            (stat.fileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            attributes = stat.fileAttributes;
            tag = stat.reparseTag;
            return true;
        }
    }
    // A search for a root or a pattern would list its contents instead.
    size_t length = BoundedPathLength(path);
    if (length <= 3 || length >= MAX_PATH || wcspbrk(path, L"*?")) return false;
    wchar_t name[MAX_PATH];
    wmemcpy(name, path, length + 1);
    RemoveTrailingBackslash(name);
    WIN32_FIND_DATAW found;
    ScopedFind search(Kernel().FindFirstFileW(name, &found));
    if (!search.Valid()) return false;
    attributes = found.dwFileAttributes;
    tag = found.dwReserved0;
    return true;
}

} // namespace

int HasHardLinkOverlay(const wchar_t* path, DWORD attributes) {
    if (!path || BoundedPathLength(path) >= MAX_PATH) return 0;
    // A reparse point is left alone: a link or a cloud placeholder, whose open may fetch it.
    constexpr DWORD kNoLookAt = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_REPARSE_POINT |
                                kRecallOnOpenAttribute | kRecallOnDataAccessAttribute;
    attributes = KnownAttributes(path, attributes);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kNoLookAt) || IsNetworkPath(path)) return 0;
    return ReadLinkCount(path) >= 2 ? 1 : 0;
}

int HasJunctionOverlay(const wchar_t* path, DWORD attributes) {
    if (!path || BoundedPathLength(path) >= MAX_PATH) return 0;
    // Only a folder carries mount-point data.
    constexpr DWORD kJunctionAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (attributes != 0 && (attributes & kJunctionAttributes) != kJunctionAttributes) return 0;
    // A network item is never asked: each question is a round trip to its server.
    if (IsNetworkPath(path)) return 0;
    DWORD tag = 0;
    if (!ReadTagWithoutOpen(path, attributes, tag) || (attributes & kJunctionAttributes) != kJunctionAttributes ||
        !LeadsElsewhere(attributes, tag) || tag != kMountPointTag)
        return 0;
    // Only a mount-point record is opened, to tell a junction from a volume mount.
    wchar_t target[MAX_PATH];
    if (GetReparseTarget(path, target) != 0) return 0;
    return wcsncmp(target, L"Volume{", 7) == 0 ? 0 : 1;
}

} // namespace kestrune
