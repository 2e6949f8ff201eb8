#include "ntfs/volumes.h"

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse_record.h"
#include "ntfs/scoped.h"

#include <cwchar>

namespace kestrune {
namespace {

// Full path without its trailing backslash; false when it cannot be made or does not fit.
bool FullPathOf(const wchar_t* path, wchar_t* full) {
    if (BoundedPathLength(path) >= MAX_PATH || !GetFullPath(path, full)) return false;
    RemoveTrailingBackslash(full);
    return true;
}

// Drive and dir of the split, joined: the parent folder with its trailing backslash.
// Done in place so that no part is cut to the split's 255 characters.
void CutToParentFolder(wchar_t* path) {
    wchar_t* rest = (path[0] != L'\0' && path[1] == L':') ? path + 2 : path;
    wchar_t* cut = rest;
    for (wchar_t* p = rest; *p; ++p)
        if (*p == L'\\' || *p == L'/') cut = p + 1;
    *cut = L'\0';
}

bool IsDrivePath(const wchar_t* path) {
    return path[0] != L'\0' && path[1] == L':' && path[2] == L'\\';
}

} // namespace

int ResolveVolumeRoot(const wchar_t* path, wchar_t* root) {
    wchar_t work[MAX_PATH];
    if (!FullPathOf(path, work)) return -1;
    int hops = 0;
    for (;;) {
        CutToParentFolder(work);
        if (wcslen(work) <= 3) break;
        RemoveTrailingBackslash(work);
        // GetReparseTarget fails on a folder without a reparse point as on unreadable data.
        wchar_t target[MAX_PATH];
        if (GetReparseTarget(work, target) != 0) continue;
        if (wcsncmp(target, L"Volume{", 7) == 0) {
            if (DriveRootFromVolumeName(target, work) != 0) return -3;
            break;
        }
        // A junction: its target folder is examined next, then the target's ancestors.
        if (++hops > kMaxJunctionHops) return -1;
        if (!IsDrivePath(target) || wcslen(target) + 1 >= MAX_PATH) return -1;
        wcscpy(work, target);
        AddTrailingBackslash(work);
    }
    AddTrailingBackslash(work);
    if (wcslen(work) != 3) return -1;
    wcscpy(root, work);
    return 0;
}

int DriveRootFromVolumeName(const wchar_t* name, wchar_t* root) {
    wchar_t drives[MAX_PATH];
    DWORD length = Kernel().GetLogicalDriveStringsW(MAX_PATH, drives);
    if (length == 0 || length >= MAX_PATH) return -3;
    drives[length] = L'\0';
    for (const wchar_t* drive = drives; *drive; drive += wcslen(drive) + 1) {
        wchar_t volume[MAX_PATH];
        // A drive whose volume name cannot be read (an empty card reader) cannot be the match;
        // it must not hide a later drive that is.
        if (!Kernel().GetVolumeNameForVolumeMountPointW(drive, volume, MAX_PATH)) continue;
        if (wcslen(volume) > 4 && wcscmp(name, volume + 4) == 0) {
            if (wcslen(drive) != 3) return -3;
            wcscpy(root, drive);
            return 0;
        }
    }
    return -1;
}

int IsSameVolume(const wchar_t* path, const wchar_t* path2) {
    wchar_t full[MAX_PATH], full2[MAX_PATH];
    if (!FullPathOf(path, full) || !FullPathOf(path2, full2)) return 0;
    wchar_t root[MAX_PATH], root2[MAX_PATH];
    if (ResolveVolumeRoot(full, root) != 0 || ResolveVolumeRoot(full2, root2) != 0) return 0;
    return CompareStringOrdinal(root, -1, root2, -1, TRUE) == CSTR_EQUAL ? 1 : 0;
}

int IsNTFSVolume(const wchar_t* path) {
    wchar_t full[MAX_PATH];
    if (!FullPathOf(path, full)) return 0;
    wchar_t root[MAX_PATH];
    if (ResolveVolumeRoot(full, root) != 0) return 0;
    wchar_t fileSystem[64] = {};
    ScopedNoCriticalErrorDialog quiet;
    if (!Kernel().GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, 64))
        return 0;
    return wcscmp(fileSystem, L"NTFS") == 0 ? 1 : 0;
}

} // namespace kestrune
