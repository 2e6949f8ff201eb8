#include "ntfs/reparse/reparse_kind.h"

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/scoped.h"

#include <cwchar>

namespace kestrune {

ReparseKind GetReparseKind(const wchar_t* path) {
    DWORD attributes = Kernel().GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return ReparseKind::Unreadable;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return ReparseKind::None;
    // The search reports the tag in dwReserved0 without opening the item.
    wchar_t name[MAX_PATH];
    size_t length = BoundedPathLength(path);
    if (length <= 3 || length >= MAX_PATH || wcspbrk(path, L"*?")) return ReparseKind::Unknown; // roots: no search
    wmemcpy(name, path, length + 1);
    RemoveTrailingBackslash(name);
    WIN32_FIND_DATAW found;
    ScopedFind search(Kernel().FindFirstFileW(name, &found));
    DWORD tag = search.Valid() ? found.dwReserved0 : 0;
    if (!LeadsElsewhere(attributes, tag)) return ReparseKind::Ordinary;
    if (tag == kMountPointTag) return ReparseKind::Mount;
    if (tag == kSymbolicLinkTag)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ReparseKind::DirectoryLink : ReparseKind::Ordinary;
    // Other name surrogates, and an unreadable tag, lead elsewhere in ways this library cannot
    // read: in doubt, protect.
    return ReparseKind::Unknown;
}

} // namespace kestrune
