// Which volume really holds a path, as the system resolves it: across junctions, directory symbolic
// links, SUBST letters and folder mounts.
#pragma once
#include <windows.h>

namespace kestrune {

struct VolumePlace {
    wchar_t volume[MAX_PATH]; // "\\?\Volume{GUID}\"; on a network drive the share's root
    wchar_t root[MAX_PATH];   // the volume's root as the path reached it: "D:\", "D:\mnt\", "\\srv\share\"
    bool network;
};

// Where `path` lies: its own entry, not what a reparse point on it leads to; a path that does not
// exist yet lies where its nearest existing folder leads. 0, or -1 when it cannot be told.
int LocateVolume(const wchar_t* path, VolumePlace& place);
int IsNTFSPlace(const VolumePlace& place);

// The root of LocateVolume; -1 on a network drive.
int ResolveVolumeRoot(const wchar_t* path, wchar_t* root);
int DriveRootFromVolumeName(const wchar_t* name, wchar_t* root);
int IsSameVolume(const wchar_t* path, const wchar_t* path2);
int IsNTFSVolume(const wchar_t* path);
// The target of a mount point (junction or volume mount): "D:\data\", "Volume{...}\". `target`
// (MAX_PATH) is written only on success. -1 no reparse point or no open, -3 unreadable, -4 memory.
int GetReparseTarget(const wchar_t* path, wchar_t* target);
// The same for a mount point or a symbolic link, whose tag goes to `tag`; a symbolic link to a
// share reads "\\server\share\...". A relative link (SYMLINK_FLAG_RELATIVE) gives 1 and its text as
// stored ("..\data"); a name in any other form is unreadable (-3).
int ReadLinkTarget(const wchar_t* path, wchar_t* target, DWORD* tag);
// The full path a relative link's stored text leads to from the link's own folder (MAX_PATH).
bool ResolveRelativeLink(const wchar_t* link, const wchar_t* stored, wchar_t* resolved);
// What names a folder whatever the path it is reached by (letter case, short name, junction,
// SUBST drive): its volume's serial number and its file index.
struct FolderIdentity {
    DWORD serial = 0, indexHigh = 0, indexLow = 0;
    bool operator==(const FolderIdentity& other) const {
        return serial == other.serial && indexHigh == other.indexHigh && indexLow == other.indexLow;
    }
};
// The identity of `path`: of its own entry with `asItLies` (a reparse point on it is not
// followed), else of what it leads to. False when it cannot be opened.
bool ReadIdentity(const wchar_t* path, bool asItLies, FolderIdentity& identity);
// The path of `path`'s own entry as the system names it: long names, its volume's DOS root.
bool LongPathOf(const wchar_t* path, wchar_t* longPath);
// 1 when `path` or a folder above it is `folder`: along the path as written (each step as it
// lies, so a path through the folder's own mount counts) and along the path the system resolves.
int IsWithin(const wchar_t* path, const FolderIdentity& folder);
// 1 for a UNC path or a path on a drive that reports itself as a network drive.
int IsNetworkPath(const wchar_t* path);

} // namespace kestrune
