#include "ntfs/paths.h"

#include "ntfs/kernel.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/scoped.h"

#include <cwchar>

namespace kestrune {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

void CopyPart(wchar_t* out, int outChars, const wchar_t* from, size_t count) {
    if (!out) return;
    size_t n = count < static_cast<size_t>(outChars - 1) ? count : static_cast<size_t>(outChars - 1);
    wmemcpy(out, from, n);
    out[n] = L'\0';
}

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

} // namespace

size_t BoundedPathLength(const wchar_t* path) { return path ? wcsnlen(path, MAX_PATH) : MAX_PATH; }

bool GetFullPath(const wchar_t* path, wchar_t* full) {
    DWORD n = Kernel().GetFullPathNameW(path, MAX_PATH, full, nullptr);
    return n != 0 && n < MAX_PATH;
}

bool AppendTextLine(wchar_t* text, size_t chars, size_t& used, const wchar_t* line) {
    size_t length = wcslen(line);
    if (used + length + 2 + 1 > chars) return false;
    wmemcpy(text + used, line, length);
    used += length;
    text[used++] = L'\r';
    text[used++] = L'\n';
    text[used] = L'\0';
    return true;
}

wchar_t* AddTrailingBackslash(wchar_t* path) {
    size_t n = wcsnlen(path, MAX_PATH);
    // A path already filling its buffer is left as it is rather than overrun.
    if ((n == 0 || path[n - 1] != L'\\') && n + 1 < MAX_PATH) {
        path[n] = L'\\';
        path[n + 1] = L'\0';
    }
    return path;
}

wchar_t* RemoveTrailingBackslash(wchar_t* path) {
    size_t n = wcslen(path);
    if (n > 0 && path[n - 1] == L'\\') path[n - 1] = L'\0';
    return path;
}

void SplitPath(const wchar_t* path, wchar_t* drive, wchar_t* dir, wchar_t* name, wchar_t* ext) {
    const wchar_t* rest = path;
    if (path[0] != L'\0' && path[1] == L':') {
        CopyPart(drive, kDrivePartChars, path, 2);
        rest = path + 2;
    } else {
        CopyPart(drive, kDrivePartChars, path, 0);
    }
    size_t length = wcslen(rest);
    size_t nameStart = 0;
    for (size_t i = 0; i < length; ++i)
        if (IsSeparator(rest[i])) nameStart = i + 1;
    size_t extStart = length;
    for (size_t i = length; i > nameStart; --i) {
        if (rest[i - 1] == L'.') {
            extStart = i - 1;
            break;
        }
    }
    CopyPart(dir, kPathPartChars, rest, nameStart);
    CopyPart(name, kPathPartChars, rest + nameStart, extStart - nameStart);
    CopyPart(ext, kPathPartChars, rest + extStart, length - extStart);
}

int IsExistingFile(const wchar_t* path) {
    if (BoundedPathLength(path) >= MAX_PATH) return 0;
    WIN32_FIND_DATAW found;
    ScopedFind search(Kernel().FindFirstFileW(path, &found));
    if (!search.Valid()) return 0;
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
}

int GetHardLinkCount(const wchar_t* path) { return IsExistingFile(path) ? ReadLinkCount(path) : -1; }

int ReadLinkCount(const wchar_t* path) {
    if (Kernel().GetFileInformationByName) {
        FileStatBasicInformation stat;
        // A link's own count is not its target's: those are counted through an open, which follows.
        if (Kernel().GetFileInformationByName(path, kFileStatBasicByNameInfo, &stat, sizeof stat) &&
            !LeadsElsewhere(stat.fileAttributes, stat.reparseTag))
            return static_cast<int>(stat.numberOfLinks);
    }
    ScopedHandle file(Kernel().CreateFileW(path, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return -1;
    BY_HANDLE_FILE_INFORMATION info;
    if (!Kernel().GetFileInformationByHandle(file.Get(), &info)) return -1;
    return static_cast<int>(info.nNumberOfLinks);
}

int IsExistingFolder(const wchar_t* path) {
    size_t length = BoundedPathLength(path);
    if (length >= MAX_PATH) return 0;
    wchar_t copy[MAX_PATH];
    wmemcpy(copy, path, length + 1);
    RemoveTrailingBackslash(copy);
    if (wcslen(copy) == 2) {
        AddTrailingBackslash(copy);
        ScopedNoCriticalErrorDialog quiet;
        ULARGE_INTEGER available, total, free;
        return Kernel().GetDiskFreeSpaceExW(copy, &available, &total, &free) ? 1 : 0;
    }
    WIN32_FIND_DATAW found;
    ScopedFind search(Kernel().FindFirstFileW(copy, &found));
    if (!search.Valid()) return 0;
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int IsFolderEmpty(const wchar_t* folder) {
    size_t length = BoundedPathLength(folder);
    if (length >= MAX_PATH) return 0;
    wchar_t pattern[MAX_PATH + 8];
    wmemcpy(pattern, folder, length + 1);
    // A drive root arrives as D:\; it must not become D:\\*.*.
    if (length == 0 || pattern[length - 1] != L'\\') pattern[length++] = L'\\';
    wcscpy(pattern + length, L"*.*");

    WIN32_FIND_DATAW found;
    ScopedFind search(Kernel().FindFirstFileW(pattern, &found));
    if (!search.Valid()) {
        // Only an existing folder with nothing in it (a bare drive root) answers "file not found".
        return GetLastError() == ERROR_FILE_NOT_FOUND && IsExistingFolder(folder) ? 1 : 0;
    }
    // Count real entries: a drive root has no "." and ".." and must not pass as empty with two files.
    do {
        if (!IsDotEntry(found.cFileName)) return 0;
    } while (Kernel().FindNextFileW(search.Get(), &found));
    return 1;
}

int HasReparsePoint(const wchar_t* path) {
    DWORD attributes = Kernel().GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
}

int IsAncestorPath(const wchar_t* ancestor, const wchar_t* path) {
    wchar_t fullAncestor[MAX_PATH];
    wchar_t fullPath[MAX_PATH];
    if (!GetFullPath(ancestor, fullAncestor) || !GetFullPath(path, fullPath)) return 0;
    RemoveTrailingBackslash(fullAncestor);
    RemoveTrailingBackslash(fullPath);
    int n = static_cast<int>(wcslen(fullAncestor));
    if (static_cast<int>(wcslen(fullPath)) <= n) return 0;
    if (CompareStringOrdinal(fullPath, n, fullAncestor, n, TRUE) != CSTR_EQUAL) return 0;
    return fullPath[n] == L'\\' ? 1 : 0;
}

int IsSamePath(const wchar_t* path, const wchar_t* path2) {
    wchar_t full[MAX_PATH];
    wchar_t full2[MAX_PATH];
    if (!GetFullPath(path, full) || !GetFullPath(path2, full2)) return 0;
    RemoveTrailingBackslash(full);
    RemoveTrailingBackslash(full2);
    return CompareStringOrdinal(full, -1, full2, -1, TRUE) == CSTR_EQUAL ? 1 : 0;
}

wchar_t* PrependString(wchar_t* buffer, const wchar_t* prefix) {
    size_t length = BoundedPathLength(buffer);
    size_t prefixLength = BoundedPathLength(prefix);
    if (length + prefixLength >= MAX_PATH) return nullptr;
    ScopedGlobal copy((length + 1) * sizeof(wchar_t));
    if (!copy.Valid()) return nullptr;
    wmemcpy(copy.As<wchar_t>(), buffer, length + 1);
    wmemcpy(buffer, prefix, prefixLength);
    wmemcpy(buffer + prefixLength, copy.As<wchar_t>(), length + 1);
    return buffer;
}

int GetTextLine(const wchar_t* text, wchar_t* line, int index) {
    if (index < 0) return -1;
    const wchar_t* start = text;
    for (int i = 0; i < index; ++i) {
        const wchar_t* feed = wcschr(start, L'\n');
        if (!feed) return -1;
        start = feed + 1;
    }
    const wchar_t* end = start;
    while (*end && !(end[0] == L'\r' && end[1] == L'\n')) ++end;
    if (*end == L'\0') return -1;
    size_t length = static_cast<size_t>(end - start);
    if (length >= MAX_PATH) return -1;  // would not fit the caller's MAX_PATH line
    wmemcpy(line, start, length);
    line[length] = L'\0';
    return static_cast<int>(length);
}

int IsValidStreamName(const wchar_t* name) {
    if (!name || name[0] == L'\0' || wcsnlen(name, kLongestStreamName + 1) > kLongestStreamName) return 0;
    return wcspbrk(name, L"\\/:,;*?\"<>|") ? 0 : 1;
}

int MakeVerbatimPath(const wchar_t* path, wchar_t* out, size_t chars) {
    if (!path || !out || chars == 0) return 0;
    const wchar_t* prefix = L"";
    const wchar_t* rest = path;
    if (path[0] == L'\\' && path[1] == L'\\') {
        bool device = (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\';
        if (!device) {
            prefix = L"\\\\?\\UNC\\";
            rest = path + 2;
        }
    } else if (path[0] != L'\0' && path[1] == L':' && path[2] == L'\\') {
        prefix = L"\\\\?\\";
    } else {
        return 0; // relative: the current folder would decide what it names
    }
    size_t prefixLength = wcslen(prefix), length = wcsnlen(rest, chars);
    if (prefixLength + length + 1 > chars) return 0;
    wmemcpy(out, prefix, prefixLength);
    wmemcpy(out + prefixLength, rest, length + 1);
    return 1;
}

int MakeShownPath(const wchar_t* path, wchar_t* out, size_t chars) {
    if (!path || !out || chars == 0) return 0;
    const wchar_t* prefix = L"";
    const wchar_t* rest = path;
    if (_wcsnicmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        prefix = L"\\\\";
        rest = path + 8;
    } else if (wcsncmp(path, L"\\\\?\\", 4) == 0 && path[4] != L'\0' && path[5] == L':') {
        rest = path + 4;
    }
    size_t prefixLength = wcslen(prefix), length = wcsnlen(rest, chars);
    if (prefixLength + length + 1 > chars) return 0;
    wmemcpy(out, prefix, prefixLength);
    wmemcpy(out + prefixLength, rest, length + 1);
    return 1;
}

HANDLE OpenFileToHold(const wchar_t* path) {
    return Kernel().CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int HeldLinkCount(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!Kernel().GetFileInformationByHandle(file, &info)) return -1;
    return static_cast<int>(info.nNumberOfLinks);
}

int IsHeldFileOnNtfs(HANDLE file) {
    ScopedGlobal path(kLongestPathChars * sizeof(wchar_t));
    if (!path.Valid()) return 0;
    wchar_t* volume = path.As<wchar_t>();
    DWORD length = Kernel().GetFinalPathNameByHandleW(file, volume, kLongestPathChars, VOLUME_NAME_GUID);
    wchar_t* close = length > 0 && length < kLongestPathChars ? wcschr(volume, L'}') : nullptr;
    if (wcsncmp(volume, L"\\\\?\\Volume{", 11) != 0 || !close || close[1] != L'\\') return 0;
    close[2] = L'\0'; // "\\?\Volume{...}\"
    wchar_t fileSystem[16] = {};
    ScopedNoCriticalErrorDialog quiet;
    return Kernel().GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, 16) &&
           wcscmp(fileSystem, L"NTFS") == 0;
}

size_t HeldFilePathChars(HANDLE file) {
    wchar_t probe[1];
    DWORD needed = Kernel().GetFinalPathNameByHandleW(file, probe, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return needed > kLongestPathChars ? 0 : needed;
}

int HeldFilePath(HANDLE file, wchar_t* path, size_t chars) {
    // A deleted file still open has no name to act through (it may lie in a hidden folder by now).
    int links = HeldLinkCount(file);
    if (links <= 0) return links;
    if (!path || chars == 0 || chars > kLongestPathChars) return -1;
    DWORD length = Kernel().GetFinalPathNameByHandleW(file, path, static_cast<DWORD>(chars),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= chars) {
        path[0] = L'\0';
        return -1;
    }
    return 1;
}

} // namespace kestrune
