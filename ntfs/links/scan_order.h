// The order in which the drive scan lists a file's paths: in each folder its own files first, then
// the content of each subfolder in turn; files and subfolders each by name without regard to case
// (lstrcmpiW), names that compare equal in the order the volume lists them.
#pragma once
#include <windows.h>

namespace kestrune {

// Two entries of one folder.
int CompareEntryNames(const wchar_t* a, const wchar_t* b);

// Two full paths under the same root ("D:\", "D:\mnt\"), by where the scan would list them.
int ComparePathsInScanOrder(const wchar_t* a, const wchar_t* b);

} // namespace kestrune
