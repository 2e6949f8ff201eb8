// Writing and removing mount-point reparse data, and mounting volumes on folders.
// Status: 0 success, -1 no such folder (or it cannot be opened, or the target does not fit),
// -2 folder not empty, -3 the file-system or mount-manager request failed, -4 out of memory.
// After a refused open or request (-1, -3) the thread's last error is the one it was refused with:
// ERROR_ACCESS_DENIED where the mount manager or the folder's security refuses this token.
#pragma once
#include <windows.h>

#include "ntfs/reparse/reparse_record.h"

namespace kestrune {

// "\\?\" and the full path of `path` ("\\?\UNC\server\share\..." for a share), so the system
// rewrites no name (a trailing dot or space stays); false when it does not fit.
constexpr DWORD kDevicePathChars = MAX_PATH + 8;
bool DevicePath(const wchar_t* path, wchar_t (&device)[kDevicePathChars]);
// The reparse point itself (not what it leads to), opened to read its record with full sharing;
// INVALID_HANDLE_VALUE when the path does not fit or cannot be opened.
HANDLE OpenReparseForReading(const wchar_t* path);

// A folder's reparse record as the file system returned it, kept to be put back byte for byte.
struct SavedReparse {
    BYTE bytes[kReparseTransferBytes];
    DWORD size = 0;
};
// 0, -1 no reparse point or no open, -3 refused (last error kept).
int SaveReparsePoint(const wchar_t* folder, SavedReparse& saved);
// Puts a saved record back on the folder: a volume mount through the mount manager, so that it
// lists it again; any other record exactly as saved, both names as they were.
int RestoreReparsePoint(const wchar_t* folder, const SavedReparse& saved);

int SetJunction(const wchar_t* folder, const wchar_t* target);
int RemoveReparsePoint(const wchar_t* folder);
// 1 when `target` is a folder or drive root on a local drive (fixed or removable) that a mount can
// lead to, or on no drive at all; a mapped network drive, a share, or a drive of another kind gives 0.
int IsMountableTarget(const wchar_t* target);
// Mounts a volume by its name: "\\?\Volume{...}\", or "Volume{...}\" as a mount's target reads
// back (GetReparseTarget). 0; -1 no such folder; -3 the mount manager refused (last error kept).
int MountVolumeByName(const wchar_t* folder, const wchar_t* volumeName);

} // namespace kestrune
