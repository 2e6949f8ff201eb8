// Writing and removing mount-point reparse data, and mounting volumes on folders.
// Status: 0 success, -1 no such folder (or it cannot be opened, or the target does not fit),
// -2 folder not empty, -3 the file-system or mount-manager request failed, -4 out of memory.
// With -3 the thread's last error is the refused request's Win32 error (ERROR_ACCESS_DENIED when
// the mount manager or the folder's security refuses this token).
#pragma once
#include <windows.h>

namespace kestrune {

int SetJunction(const wchar_t* folder, const wchar_t* target);
int RemoveReparsePoint(const wchar_t* folder);
int MountVolume(const wchar_t* folder, const wchar_t* driveRoot);
// 1 when `target` is a folder or drive root on a local drive (fixed or removable) that a mount can
// lead to, or on no drive at all; a mapped network drive, a share, or a drive of another kind gives 0.
int IsMountableTarget(const wchar_t* target);
// Mounts a volume by its name: "\\?\Volume{...}\", or "Volume{...}\" as a mount's target reads
// back (GetReparseTarget). Returns 0, -1 or -3 like MountVolume.
int MountVolumeByName(const wchar_t* folder, const wchar_t* volumeName);

} // namespace kestrune
