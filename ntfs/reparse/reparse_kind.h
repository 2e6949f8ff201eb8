// What a reparse point makes of a folder, decided by its tag: sync clients' cloud folders and
// deduplicated files carry reparse points too, and they are ordinary items to the user.
#pragma once
#include <windows.h>

namespace kestrune {

enum class ReparseKind {
    None,          // no reparse point
    Unreadable,    // no attributes to read (the item is gone, or its folder denies us)
    Mount,         // a junction or a volume mount point
    DirectoryLink, // a symbolic link to a folder
    Unknown,       // the attribute says reparse point, but no tag can be read (Wine's drives give 0)
    Ordinary,      // any other tag: the item is served in place
};

// One attribute read and, for a reparse point, one search for its tag.
ReparseKind GetReparseKind(const wchar_t* path);

// Mounts and folder links lead elsewhere; a point whose tag cannot be read may: all are guarded.
inline bool LeadsElsewhere(ReparseKind kind) {
    return kind == ReparseKind::Mount || kind == ReparseKind::DirectoryLink || kind == ReparseKind::Unknown;
}

} // namespace kestrune
