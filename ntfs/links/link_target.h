// What the hard-link enumeration looks for, the text it fills, and the ways it gets there.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace kestrune {

// The file whose paths are sought: its file index and its volume's serial number.
class LinkTarget {
public:
    // Reads them from the file at `path`, opened as the link count opens it; false when it
    // cannot be opened or queried.
    bool Read(const wchar_t* path);
    // An entry of a folder listing on the volume with serial number `serial`.
    bool HasId(uint64_t id, DWORD serial) const { return id == index_ && serial == serial_; }
    // Whether `path` names the file itself. A reparse point there (a symbolic link to the file)
    // is opened as itself, not followed, and never counts.
    bool IsNamedBy(const wchar_t* path) const;

private:
    uint64_t index_ = 0;
    DWORD serial_ = 0;
};

// The caller's text: each path found and CR LF, as many as fit.
struct LinkText {
    wchar_t* text;
    size_t chars;
    size_t used = 0;
    int count = 0;      // paths written
    bool found = false; // a path of the file was found, written or not

    void Add(const wchar_t* path);
};

enum class LinkSearch {
    Done,
    Unavailable, // the system cannot answer this way: nothing was written, another way must be tried
    Failed,      // stopped by the run event, out of memory, or nothing of the drive could be read
};

// The direct answer: the file's own list of names, with `root` (the volume's root as the path reached
// it, ending in "\") before each.
LinkSearch ListLinksByName(const wchar_t* path, const wchar_t* root, const LinkTarget& target, LinkText& text,
                           HANDLE event);

// The drive scan from `root`, in the order of the flattened scan; with a null target and text it
// only answers whether the scan would hold any file at all (Done) or not (Failed).
LinkSearch WalkForLinks(const wchar_t* root, const LinkTarget* target, LinkText* text, HANDLE event);

} // namespace kestrune
