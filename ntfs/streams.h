// Named streams of a file or folder, found with the backup stream walk.
#pragma once
#include <windows.h>

#include <cstddef>

namespace kestrune {

// Number of named streams, or -1 when the item cannot be opened.
int CountNamedStreams(const wchar_t* path);
// Writes each name and CR LF into `buffer` (bufferChars characters, terminator included); names
// that would not fit are dropped. Returns the names written, -3 off NTFS, -1 when the item cannot
// be opened; the buffer is untouched on failure.
int ListNamedStreams(const wchar_t* path, wchar_t* buffer, size_t bufferChars);

} // namespace kestrune
