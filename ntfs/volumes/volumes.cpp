#include "ntfs/volumes/volumes.h"

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/scoped.h"

#include <cwchar>
#include <cwctype>

namespace kestrune {
namespace {

constexpr DWORD kAnyShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens for queries only; with `asItLies`, a reparse point on the last component is not followed.
HANDLE OpenForQuery(const wchar_t* path, bool asItLies) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (asItLies ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    return Kernel().CreateFileW(path, 0, kAnyShare, nullptr, OPEN_EXISTING, flags, nullptr);
}

// A final path holds a path of MAX_PATH characters after its volume's GUID path or "\\?\UNC\".
constexpr DWORD kFinalPathChars = MAX_PATH + 64;

bool FinalPath(HANDLE handle, DWORD form, wchar_t (&path)[kFinalPathChars]) {
    DWORD length = Kernel().GetFinalPathNameByHandleW(handle, path, kFinalPathChars, form);
    return length > 0 && length < kFinalPathChars;
}

bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

// Length of the leading "\\?\Volume{GUID}\", or 0.
size_t VolumePrefixLength(const wchar_t* path) {
    if (wcsncmp(path, L"\\\\?\\Volume{", 11) != 0) return 0;
    const wchar_t* close = wcschr(path, L'}');
    return close && close[1] == L'\\' ? static_cast<size_t>(close + 2 - path) : 0;
}

bool SameText(const wchar_t* a, int aLength, const wchar_t* b, int bLength) {
    return CompareStringOrdinal(a, aLength, b, bLength, TRUE) == CSTR_EQUAL;
}

// Cuts the last component off a full path, keeping the backslash before it; false at a root.
bool CutLastComponent(wchar_t* path) {
    size_t length = wcslen(path);
    if (length > 0 && path[length - 1] == L'\\') --length;
    while (length > 0 && path[length - 1] != L'\\') --length;
    if (length < 3) return false;
    path[length] = L'\0';
    return true;
}

// Whether `root` (ending in "\\") is a root of `volume`: its drive letter, a SUBST letter of its root,
// or a folder it is mounted in. A junction to a drive root is none: its drive's letter names it.
bool IsRootOf(const wchar_t* root, const wchar_t* volume) {
    wchar_t found[kFinalPathChars];
    if (root[1] == L':' && root[3] == L'\0') {
        if (Kernel().GetVolumeNameForVolumeMountPointW(root, found, MAX_PATH)) return SameText(found, -1, volume, -1);
        ScopedHandle opened(OpenForQuery(root, false));
        return opened.Valid() && FinalPath(opened.Get(), VOLUME_NAME_GUID, found) && SameText(found, -1, volume, -1);
    }
    wchar_t folder[MAX_PATH];
    wcscpy(folder, root);
    RemoveTrailingBackslash(folder);
    return GetReparseTarget(folder, found) == 0 && SameText(found, -1, volume + 4, -1);
}

// The share's root, "\\server\share\" (also in its "\\?\UNC\" form), or the mapped drive's "Z:\".
bool SetNetworkRoot(const wchar_t* full, VolumePlace& place) {
    size_t length = 3;
    if (full[1] != L':') {
        const wchar_t* server = full + (_wcsnicmp(full, L"\\\\?\\UNC\\", 8) == 0 ? 8 : 2);
        const wchar_t* share = wcschr(server, L'\\');
        if (!share || share == server || share[1] == L'\0' || share[1] == L'\\') return false;
        const wchar_t* end = wcschr(share + 1, L'\\');
        length = end ? static_cast<size_t>(end - full) : wcslen(full);
    }
    if (length + 1 >= MAX_PATH) return false;
    wmemcpy(place.root, full, length);
    place.root[length] = L'\\';
    place.root[length + 1] = L'\0';
    wcscpy(place.volume, place.root);
    return true;
}

// The root the path reached its volume through: the path less the part that lies inside the
// volume, where that part ends the path and the rest leads to the volume's root (a SUBST letter of
// a root, a folder mount); else the volume's own DOS root ("E:\" behind a junction, the first
// folder it is mounted in); else its GUID path.
void SetReachedRoot(const wchar_t* opened, HANDLE handle, const wchar_t* inside, VolumePlace& place) {
    size_t length = wcslen(opened), insideLength = wcslen(inside);
    if (length > 0 && opened[length - 1] == L'\\') --length;
    if (insideLength == 0 || (length > insideLength && opened[length - insideLength - 1] == L'\\' &&
                              SameText(opened + length - insideLength, static_cast<int>(insideLength), inside,
                                       static_cast<int>(insideLength)))) {
        size_t rootLength = length - insideLength;
        wmemcpy(place.root, opened, rootLength);
        place.root[rootLength] = L'\0';
        AddTrailingBackslash(place.root);
        if (VolumePrefixLength(place.root) != 0 || IsRootOf(place.root, place.volume)) return;
    }
    wchar_t dos[kFinalPathChars];
    size_t dosLength = FinalPath(handle, VOLUME_NAME_DOS, dos) ? wcslen(dos) : 0;
    if (dosLength > 4 + insideLength && dosLength - 4 - insideLength < MAX_PATH && wcsncmp(dos, L"\\\\?\\", 4) == 0 && _wcsnicmp(dos + 4, L"UNC\\", 4) != 0) {
        wmemcpy(place.root, dos + 4, dosLength - 4 - insideLength);
        place.root[dosLength - 4 - insideLength] = L'\0';
        return;
    }
    wcscpy(place.root, place.volume);
}

// For a volume the mount manager gives no GUID path (some virtual and FUSE drives): its drive.
int SetDrivePlace(HANDLE handle, VolumePlace& place) {
    wchar_t dos[kFinalPathChars];
    if (!FinalPath(handle, VOLUME_NAME_DOS, dos) || wcsncmp(dos, L"\\\\?\\", 4) != 0 || !iswalpha(dos[4]) ||
        dos[5] != L':')
        return -1;
    const wchar_t drive[] = {dos[4], L':', L'\\', L'\0'};
    wcscpy(place.volume, drive);
    wcscpy(place.root, drive);
    return 0;
}

// IsNTFSVolume past MAX_PATH: only a "\\?\" path may pass it; a share's root is short whatever lies below.
int IsLongPathOnNtfs(const wchar_t* path) {
    if (wcsncmp(path, L"\\\\?\\", 4) != 0 || wcsnlen(path, kLongestPathChars) >= kLongestPathChars) return 0;
    VolumePlace place;
    if (IsNetworkPath(path)) return SetNetworkRoot(path, place) ? IsNTFSPlace(place) : 0;
    ScopedHandle item(OpenForQuery(path, true));
    return item.Valid() ? IsHeldFileOnNtfs(item.Get()) : 0;
}

} // namespace

int LocateVolume(const wchar_t* path, VolumePlace& place) {
    wchar_t opened[MAX_PATH];
    if (!path || BoundedPathLength(path) >= MAX_PATH || !GetFullPath(path, opened)) return -1;
    ScopedNoCriticalErrorDialog quiet;
    place.network = IsNetworkPath(opened) != 0;
    if (place.network) return SetNetworkRoot(opened, place) ? 0 : -1;
    // The path as it lies (a junction is where its folder is); a path not there yet (a name about to
    // be made) lies where its nearest existing folder leads.
    ScopedHandle handle(OpenForQuery(opened, true));
    while (!handle.Valid()) {
        if (!IsMissing(GetLastError()) || !CutLastComponent(opened)) return -1;
        handle.Reset(OpenForQuery(opened, false));
        if (handle.Valid() || !IsMissing(GetLastError())) continue;
        // There as an entry but leading nowhere: a junction or link whose target is gone.
        ScopedHandle entry(OpenForQuery(opened, true));
        if (entry.Valid()) return -1;
    }
    wchar_t final[kFinalPathChars];
    size_t prefix = FinalPath(handle.Get(), VOLUME_NAME_GUID, final) ? VolumePrefixLength(final) : 0;
    if (prefix == 0) return SetDrivePlace(handle.Get(), place);
    wmemcpy(place.volume, final, prefix);
    place.volume[prefix] = L'\0';
    SetReachedRoot(opened, handle.Get(), final + prefix, place);
    return 0;
}

int ResolveVolumeRoot(const wchar_t* path, wchar_t* root) {
    VolumePlace place;
    if (LocateVolume(path, place) != 0 || place.network) return -1;
    wcscpy(root, place.root);
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
    VolumePlace place, place2;
    if (LocateVolume(path, place) != 0 || LocateVolume(path2, place2) != 0) return 0;
    // Two shares may be one volume of the server, or not: no hard link is offered across them.
    return !place.network && !place2.network && SameText(place.volume, -1, place2.volume, -1) ? 1 : 0;
}

int IsNTFSVolume(const wchar_t* path) {
    if (path && BoundedPathLength(path) >= MAX_PATH) return IsLongPathOnNtfs(path);
    VolumePlace place;
    return LocateVolume(path, place) == 0 ? IsNTFSPlace(place) : 0;
}

int IsNTFSPlace(const VolumePlace& place) {
    wchar_t fileSystem[64] = {};
    ScopedNoCriticalErrorDialog quiet;
    if (!Kernel().GetVolumeInformationW(place.volume, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, 64))
        return 0;
    return wcscmp(fileSystem, L"NTFS") == 0 ? 1 : 0;
}

bool ReadIdentity(const wchar_t* path, bool asItLies, FolderIdentity& identity) {
    wchar_t device[kDevicePathChars];
    if (!DevicePath(path, device)) return false;
    ScopedHandle opened(OpenForQuery(device, asItLies));
    BY_HANDLE_FILE_INFORMATION info;
    if (!opened.Valid() || !Kernel().GetFileInformationByHandle(opened.Get(), &info)) return false;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

bool LongPathOf(const wchar_t* path, wchar_t* longPath) {
    wchar_t device[kDevicePathChars], final[kFinalPathChars];
    if (!DevicePath(path, device)) return false;
    ScopedHandle opened(OpenForQuery(device, true));
    if (!opened.Valid() || !FinalPath(opened.Get(), VOLUME_NAME_DOS, final) || wcsncmp(final, L"\\\\?\\", 4) != 0)
        return false;
    bool share = _wcsnicmp(final + 4, L"UNC\\", 4) == 0;
    const wchar_t* rest = final + (share ? 7 : 4);
    if (wcslen(rest) + (share ? 1 : 0) >= MAX_PATH) return false;
    wcscpy(longPath, share ? L"\\" : L"");
    wcscat(longPath, rest);
    return true;
}

int IsWithin(const wchar_t* path, const FolderIdentity& folder) {
    wchar_t walk[kDevicePathChars], resolved[kFinalPathChars];
    if (!DevicePath(path, walk)) return 0;
    {
        ScopedHandle opened(OpenForQuery(walk, true));
        if (!opened.Valid() || !FinalPath(opened.Get(), VOLUME_NAME_DOS, resolved)) resolved[0] = L'\0';
    }
    wchar_t* const walks[] = {walk, resolved};
    for (wchar_t* steps : walks) {
        if (!steps[0]) continue;
        do {
            ScopedHandle opened(OpenForQuery(steps, true));
            BY_HANDLE_FILE_INFORMATION info;
            if (opened.Valid() && Kernel().GetFileInformationByHandle(opened.Get(), &info) &&
                FolderIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow} == folder)
                return 1;
        } while (CutLastComponent(steps));
    }
    return 0;
}

int IsNetworkPath(const wchar_t* path) {
    // "\\server\share\..." and "\\?\UNC\server\share\..."; the other "\\?\" and "\\.\" forms are local.
    if (path[0] == L'\\' && path[1] == L'\\') {
        bool device = (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\';
        if (!device) return 1;
        if (_wcsnicmp(path + 4, L"UNC\\", 4) == 0) return 1;
        path += 4;
    }
    if (!iswalpha(path[0]) || path[1] != L':') return 0;
    const wchar_t root[] = {path[0], L':', L'\\', L'\0'};
    return Kernel().GetDriveTypeW(root) == DRIVE_REMOTE ? 1 : 0;
}

} // namespace kestrune
