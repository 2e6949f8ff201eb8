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
// `target` (MAX_PATH) is written only on success.
int GetReparseTarget(const wchar_t* path, wchar_t* target);

} // namespace kestrune
