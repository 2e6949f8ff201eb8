#include "ntfs/overlay_checks.h"

#include <cwchar>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/volumes/volumes.h"

namespace kestrune {
namespace {

// Explorer passes 0 where it knows nothing; then one attribute read stands in.
DWORD KnownAttributes(const wchar_t* path, DWORD attributes) {
    return attributes != 0 ? attributes : Kernel().GetFileAttributesW(path);
}

} // namespace

int HasHardLinkOverlay(const wchar_t* path, DWORD attributes) {
    if (!path || BoundedPathLength(path) >= MAX_PATH) return 0;
    constexpr DWORD kNoLookAt = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_OFFLINE | kRecallOnOpenAttribute |
                                kRecallOnDataAccessAttribute;
    attributes = KnownAttributes(path, attributes);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kNoLookAt) || IsNetworkPath(path)) return 0;
    return ReadLinkCount(path) >= 2 ? 1 : 0;
}

int HasJunctionOverlay(const wchar_t* path, DWORD attributes) {
    if (!path) return 0;
    // Only a folder carries mount-point data; GetReparseTarget reads the attributes where Explorer gave none.
    constexpr DWORD kJunctionAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (attributes != 0 && (attributes & kJunctionAttributes) != kJunctionAttributes) return 0;
    wchar_t target[MAX_PATH];
    if (GetReparseTarget(path, target) != 0) return 0;
    return wcsncmp(target, L"Volume{", 7) == 0 ? 0 : 1;
}

} // namespace kestrune
