#include "ntfs/reparse/reparse.h"

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/scoped.h"
#include "ntfs/volumes/volumes.h"

#include <cstring>
#include <cwchar>

namespace kestrune {
namespace {


HANDLE OpenForReparse(const wchar_t* folder) {
    wchar_t device[kDevicePathChars];
    if (!DevicePath(folder, device)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    return Kernel().CreateFileW(device, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// -3, with the refused request's Win32 error left as the thread's last error (closing handles
// on the way out must not overwrite it).
int Refused(DWORD error) {
    SetLastError(error);
    return -3;
}

// Sends one reparse request through a write handle on `folder`; 0, -1 (no open) or Refused.
int ReparseRequest(const wchar_t* folder, DWORD code, void* record, DWORD bytes) {
    ScopedHandle handle(OpenForReparse(folder));
    if (!handle.Valid()) return -1;
    DWORD returned = 0;
    BOOL done = Kernel().DeviceIoControl(handle.Get(), code, record, bytes, nullptr, 0, &returned, nullptr);
    DWORD error = GetLastError();
    handle.Reset();
    return done ? 0 : Refused(error);
}

// Copies `path` and gives it a trailing backslash; false when it would not fit MAX_PATH.
bool CopyWithBackslash(const wchar_t* path, wchar_t* out) {
    size_t length = BoundedPathLength(path);
    if (length == 0 || length >= MAX_PATH) return false;
    wmemcpy(out, path, length + 1);
    if (out[length - 1] == L'\\') return true;
    if (length + 1 >= MAX_PATH) return false;
    out[length] = L'\\';
    out[length + 1] = L'\0';
    return true;
}

// Keeps a refused request's error as the thread's last error past the releases that follow it:
// declared before the handles and blocks, it is restored after they are released.
class KeptError {
public:
    ~KeptError() {
        if (error_ != ERROR_SUCCESS) SetLastError(error_);
    }
    int Keep(int status) {
        error_ = GetLastError();
        return status;
    }

private:
    DWORD error_ = ERROR_SUCCESS;
};

} // namespace

bool DevicePath(const wchar_t* path, wchar_t (&device)[kDevicePathChars]) {
    wchar_t full[MAX_PATH];
    if (!path || wcsncmp(path, L"\\\\?\\", 4) == 0) { // already one: taken as it stands
        if (!path || wcsnlen(path, kDevicePathChars) >= kDevicePathChars) return false;
        wcscpy(device, path);
        return true;
    }
    if (BoundedPathLength(path) >= MAX_PATH || !GetFullPath(path, full)) return false;
    bool share = full[0] == L'\\' && full[1] == L'\\';
    wcscpy(device, share ? L"\\\\?\\UNC" : L"\\\\?\\");
    wcscat(device, share ? full + 1 : full);
    return true;
}

HANDLE OpenReparseForReading(const wchar_t* path) {
    wchar_t device[kDevicePathChars];
    if (!DevicePath(path, device)) return INVALID_HANDLE_VALUE;
    return Kernel().CreateFileW(device, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
}

int SaveReparsePoint(const wchar_t* folder, SavedReparse& saved) {
    ScopedHandle handle(OpenReparseForReading(folder));
    if (!handle.Valid()) return -1;
    saved.size = 0;
    BOOL done = Kernel().DeviceIoControl(handle.Get(), kFsctlGetReparsePoint, nullptr, 0, saved.bytes,
                                         kReparseTransferBytes, &saved.size, nullptr);
    DWORD error = GetLastError();
    handle.Reset();
    if (!done) return error == ERROR_NOT_A_REPARSE_POINT ? -1 : Refused(error);
    return saved.size >= kReparseHeaderBytes && saved.size <= kReparseTransferBytes ? 0 : Refused(ERROR_INVALID_REPARSE_DATA);
}

int RestoreReparsePoint(const wchar_t* folder, const SavedReparse& saved) {
    const auto* record = reinterpret_cast<const MountPointRecord*>(saved.bytes);
    if (saved.size < kReparseHeaderBytes || saved.size > kReparseTransferBytes) return Refused(ERROR_INVALID_REPARSE_DATA);
    DWORD offset = record->substituteNameOffset, length = record->substituteNameLength;
    if (record->reparseTag == kMountPointTag && saved.size >= kPathBufferOffset + offset + length && length >= 22 &&
        length / 2 < MAX_PATH) {
        wchar_t name[MAX_PATH];
        memcpy(name, saved.bytes + kPathBufferOffset + offset, length);
        name[length / 2] = L'\0';
        if (wcsncmp(name, L"\\??\\Volume{", 11) == 0) return MountVolumeByName(folder, name + 4);
    }
    return ReparseRequest(folder, kFsctlSetReparsePoint, const_cast<BYTE*>(saved.bytes), saved.size);
}

int SetJunction(const wchar_t* folder, const wchar_t* target) {
    if (BoundedPathLength(folder) >= MAX_PATH || !IsExistingFolder(folder)) return -1;
    // A mount point's own folder is empty by rule; its listing would be the target's.
    if (!HasReparsePoint(folder) && !IsFolderEmpty(folder)) return -2;
    // "\??\" + target + "\" must fit MAX_PATH; a target that does not is refused before any write.
    wchar_t substitute[MAX_PATH];
    if (!CopyWithBackslash(target, substitute) || wcslen(substitute) + 4 >= MAX_PATH) return -1;
    if (!PrependString(substitute, L"\\??\\")) return -4;
    const DWORD n = static_cast<DWORD>(wcslen(substitute));

    KeptError kept;
    ScopedGlobal transfer(kReparseTransferBytes);
    if (!transfer.Valid()) return -4;
    auto* record = transfer.As<MountPointRecord>();
    record->reparseTag = kMountPointTag;
    // The print name is the DOS path, as the console's junction command writes it: other tools show it.
    record->reparseDataLength = static_cast<uint16_t>(4 * n + 4);
    record->substituteNameOffset = 0;
    record->substituteNameLength = static_cast<uint16_t>(2 * n);
    record->printNameOffset = static_cast<uint16_t>(2 * n + 2);
    record->printNameLength = static_cast<uint16_t>(2 * (n - 4));
    auto* names = reinterpret_cast<wchar_t*>(transfer.As<BYTE>() + kPathBufferOffset);
    wmemcpy(names, substitute, n + 1);
    wmemcpy(names + n + 1, substitute + 4, n - 3);

    int status = ReparseRequest(folder, kFsctlSetReparsePoint, record, record->reparseDataLength + kReparseHeaderBytes);
    return status == 0 ? 0 : kept.Keep(status);
}

int RemoveReparsePoint(const wchar_t* folder) {
    if (BoundedPathLength(folder) >= MAX_PATH) return -1;
    // A volume mount is the mount manager's: removed behind its back, it would stay in its list.
    wchar_t target[MAX_PATH];
    int read = GetReparseTarget(folder, target);
    if (read == -4) return -4;
    if (read == 0 && wcsncmp(target, L"Volume{", 7) == 0) {
        wchar_t mountPoint[MAX_PATH];
        if (!CopyWithBackslash(folder, mountPoint)) return -1;
        return Kernel().DeleteVolumeMountPointW(mountPoint) ? 0 : Refused(GetLastError());
    }
    KeptError kept;
    DWORD header[2] = {kMountPointTag, 0}; // tag; data length 0 and reserved 0
    int status = ReparseRequest(folder, kFsctlDeleteReparsePoint, header, kReparseHeaderBytes);
    return status == 0 ? 0 : kept.Keep(status);
}

int IsMountableTarget(const wchar_t* target) {
    if (!target || BoundedPathLength(target) < 2 || target[1] != L':' || (target[2] != L'\\' && target[2] != L'\0'))
        return 0;
    const wchar_t root[] = {target[0], L':', L'\\', L'\0'};
    // A drive that is not there at all passes: mounting on it fails later and is told as such.
    UINT type = Kernel().GetDriveTypeW(root);
    return type == DRIVE_FIXED || type == DRIVE_REMOVABLE || type == DRIVE_NO_ROOT_DIR ? 1 : 0;
}

int MountVolumeByName(const wchar_t* folder, const wchar_t* volumeName) {
    if (BoundedPathLength(folder) >= MAX_PATH || !IsExistingFolder(folder)) return -1;
    wchar_t volume[MAX_PATH] = L"\\\\?\\";
    const wchar_t* name = wcsncmp(volumeName, L"\\\\?\\", 4) == 0 ? volumeName + 4 : volumeName;
    // "\\?\", the name and a backslash must fit: the name may take MAX_PATH - 6 characters.
    if (wcsncmp(name, L"Volume{", 7) != 0 || wcsnlen(name, MAX_PATH) > MAX_PATH - 6) return Refused(ERROR_INVALID_NAME);
    CopyWithBackslash(name, volume + 4);
    wchar_t mountPoint[MAX_PATH];
    if (!CopyWithBackslash(folder, mountPoint)) return -1;
    return Kernel().SetVolumeMountPointW(mountPoint, volume) ? 0 : Refused(GetLastError());
}

} // namespace kestrune
