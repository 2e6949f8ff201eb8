// Path and text utilities over caller-owned MAX_PATH buffers.
// Flags are 1 or 0; nothing here shows a message or keeps state.
#pragma once
#include <windows.h>

namespace kestrune {

// Output sizes of SplitPath, terminator included.
constexpr int kDrivePartChars = 3;
constexpr int kPathPartChars = 256;

wchar_t* AddTrailingBackslash(wchar_t* path);
wchar_t* RemoveTrailingBackslash(wchar_t* path);
// Outputs may be null; drive holds kDrivePartChars, the others kPathPartChars.
void SplitPath(const wchar_t* path, wchar_t* drive, wchar_t* dir, wchar_t* name, wchar_t* ext);
int IsExistingFile(const wchar_t* path);
int GetHardLinkCount(const wchar_t* path);
// The link count of what is known to be a file: one query by name where the system has it, else
// one open, query and close. -1 on failure.
int ReadLinkCount(const wchar_t* path);
int IsExistingFolder(const wchar_t* path);
int IsFolderEmpty(const wchar_t* folder);
// 1 when the attributes of `path` can be read and carry FILE_ATTRIBUTE_REPARSE_POINT, else 0.
int HasReparsePoint(const wchar_t* path);
int IsAncestorPath(const wchar_t* ancestor, const wchar_t* path);
// 1 when both name the same place as NTFS compares names: without regard to case or a
// trailing backslash (D:\A\ is D:\a). 0 when they differ or either does not fit MAX_PATH.
int IsSamePath(const wchar_t* path, const wchar_t* path2);
wchar_t* PrependString(wchar_t* buffer, const wchar_t* prefix);
int GetTextLine(const wchar_t* text, wchar_t* line, int index);
// NTFS holds a stream's name in 255 characters at most.
constexpr size_t kLongestStreamName = 255;
// 1 for a name of 1 to kLongestStreamName characters without a character NTFS or a stream path refuses.
int IsValidStreamName(const wchar_t* name);

// Characters of the longest path NTFS and a "\\?\" path allow, terminator included.
constexpr size_t kLongestPathChars = 32768;
// `path` in its "\\?\" form, which no name rule of Win32 rewrites (trailing dots and spaces stay,
// MAX_PATH does not apply): "D:\a." -> "\\?\D:\a.", "\\srv\s\a" -> "\\?\UNC\srv\s\a"; a "\\?\" or "\\.\"
// path as it is. 1, or 0 for a relative path or one that does not fit `chars` (nothing is cut).
int MakeVerbatimPath(const wchar_t* path, wchar_t* out, size_t chars);
// The form a user reads: "\\?\D:\a." -> "D:\a.", "\\?\UNC\srv\s" -> "\\srv\s"; others as they are.
// 1, or 0 when it does not fit `chars`.
int MakeShownPath(const wchar_t* path, wchar_t* out, size_t chars);

// A hold on one file, whatever becomes of the path it was opened by: a handle that reads
// attributes only and lets others read, write, rename and delete the file. `path` is taken exactly.
HANDLE OpenFileToHold(const wchar_t* path);
// A current "\\?\" path of the held file, through whichever of its names is left: 1; 0 when no
// name is left (the file was deleted); -1 when it cannot be told or does not fit `chars`.
int HeldFilePath(HANDLE file, wchar_t* path, size_t chars);
// The characters HeldFilePath needs now, its terminator included; 0 when that cannot be told.
size_t HeldFilePathChars(HANDLE file);
// The held file's link count (0 once deleted), or -1.
int HeldLinkCount(HANDLE file);
// 1 when the held file lies on an NTFS volume the mount manager names (a path of any length).
int IsHeldFileOnNtfs(HANDLE file);

// Length of a string that must fit a MAX_PATH buffer, or MAX_PATH when it does not.
size_t BoundedPathLength(const wchar_t* path);

// GetFullPathNameW into a MAX_PATH buffer; false when it fails or the result does not fit.
bool GetFullPath(const wchar_t* path, wchar_t* full);

// Appends `line` and CR LF to a line-list text of `chars` characters (terminator included) whose
// first `used` characters are taken; false, and nothing written, when it does not fit.
bool AppendTextLine(wchar_t* text, size_t chars, size_t& used, const wchar_t* line);

} // namespace kestrune
