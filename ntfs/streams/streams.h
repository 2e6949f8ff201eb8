// Named streams of a file or folder: FindFirstStreamW where the system has it, else the backup
// stream walk.
#pragma once
#include <windows.h>

#include <cstddef>

namespace kestrune {

// A stream's bare name and its terminator: NTFS allows 255 characters.
constexpr size_t kStreamNameChars = 256;

// Number of named streams, or -1 when the item cannot be opened.
int CountNamedStreams(const wchar_t* path);
// Writes each name and CR LF into `buffer` (bufferChars characters, terminator included); names
// that would not fit are dropped. Returns the names written, -3 off NTFS, -1 when the item cannot
// be opened; the buffer is untouched on failure. A name holding CR or LF breaks this text: lists
// that must show every name take ListStreamNames.
int ListNamedStreams(const wchar_t* path, wchar_t* buffer, size_t bufferChars);
// The same names, each ended by a zero, the list by a second zero (count x kStreamNameChars + 1
// characters hold them all), so that any character a name may hold stays in it.
int ListStreamNames(const wchar_t* path, wchar_t* buffer, size_t bufferChars);

} // namespace kestrune
