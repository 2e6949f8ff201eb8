// Which volume really holds a path: junctions and volume mount points above it are followed.
#pragma once
#include <windows.h>

namespace kestrune {

// Junction hops a resolution follows before it gives up (circular junctions).
constexpr int kMaxJunctionHops = 63;

int ResolveVolumeRoot(const wchar_t* path, wchar_t* root);
int DriveRootFromVolumeName(const wchar_t* name, wchar_t* root);
int IsSameVolume(const wchar_t* path, const wchar_t* path2);
int IsNTFSVolume(const wchar_t* path);
// The target of a mount point (junction or volume mount): "D:\data\", "Volume{...}\". `target`
// (MAX_PATH) is written only on success. -1 no reparse point or no open, -3 unreadable, -4 memory.
int GetReparseTarget(const wchar_t* path, wchar_t* target);
// The same for a mount point or a symbolic link, whose tag goes to `tag`; a symbolic link to a
// share reads "\\server\share\...". A relative link, or a name in any other form, is unreadable (-3).
int ReadLinkTarget(const wchar_t* path, wchar_t* target, DWORD* tag);

} // namespace kestrune
