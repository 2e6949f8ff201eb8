// Reads the entries of one folder in the order its volume lists them: with their file IDs, through
// one open of the folder, where the file system gives them; otherwise by a directory search, whose
// entries carry no ID.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "ntfs/scoped.h"

namespace kestrune {

struct FolderEntry {
    const wchar_t* name; // not zero-terminated
    size_t length;
    DWORD attributes;
    DWORD reparseTag; // with FILE_ATTRIBUTE_REPARSE_POINT only
    bool hasId; // false: read by the search, the file must be opened to learn its index
    uint64_t id;
};

// Opens `folder` to list its entries, as the scan opens it: a drive root as itself, a folder below
// one without following a reparse point it may carry by now. INVALID_HANDLE_VALUE on failure.
HANDLE OpenFolderForListing(const wchar_t* folder, bool isRoot);

class FolderReader {
public:
    // `listing` (8-byte aligned, `bytes` long) receives the id listing; one block serves every
    // reader of a walk, one after the other.
    FolderReader(void* listing, DWORD bytes) : listing_(static_cast<uint8_t*>(listing)), bytes_(bytes) {}
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    // `folder` is a full path ending in "\" (`length` characters), opened by OpenFolderForListing.
    // `serial` is the volume serial number of the walk, 0 while unknown: the first folder listed by
    // id reads it, once, for every folder below the root shares the root's volume (none is entered
    // through a junction or mount; placeholders are served in place). False when the folder can be
    // neither listed nor searched.
    bool Open(const wchar_t* folder, size_t length, bool isRoot, DWORD& serial);
    // False at the end of the entries, or when the volume stops giving them.
    bool Next(FolderEntry& entry);
private:
    bool StartIdListing(const wchar_t* folder, bool isRoot, DWORD& serial);
    bool NextListed(FolderEntry& entry);

    uint8_t* listing_;
    DWORD bytes_;
    ScopedHandle folder_;
    ScopedFind search_;
    DWORD next_ = 0;      // offset of the next listed entry; `filled_` when the block is used up
    DWORD filled_ = 0;    // bytes of the block the last call gave, 0 at the end
    bool searchPending_ = false;
    WIN32_FIND_DATAW found_;
};

} // namespace kestrune
