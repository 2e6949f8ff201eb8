// Reading where a mount point or a symbolic link leads. Both names are taken by the offsets and
// lengths the record gives, within the bytes returned: records written by other tools may store
// the print name first.
#include "ntfs/volumes/volumes.h"

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/scoped.h"

#include <cstring>
#include <cwchar>

namespace kestrune {
namespace {

constexpr DWORD kRelativeLinkFlag = 1;         // SYMLINK_FLAG_RELATIVE

bool StartsWith(const wchar_t* text, size_t length, const wchar_t* prefix) {
    size_t n = wcslen(prefix);
    return length >= n && wcsncmp(text, prefix, n) == 0;
}

// The substitute name as Win32 writes it: "\??\D:\x" gives "D:\x", "\??\Volume{...}\" gives
// "Volume{...}\", "\??\UNC\server\share" gives "\\server\share"; anything else fails.
bool Win32Target(const wchar_t* name, size_t length, wchar_t* target) {
    if (wmemchr(name, L'\0', length) || !StartsWith(name, length, L"\\??\\")) return false;
    name += 4;
    length -= 4;
    const wchar_t* prefix = L"";
    if (StartsWith(name, length, L"UNC\\")) {
        name += 3;
        length -= 3;
        prefix = L"\\";
    } else if (!StartsWith(name, length, L"Volume{") &&
               !(length >= 3 && (name[0] | 0x20) >= L'a' && (name[0] | 0x20) <= L'z' && name[1] == L':' && name[2] == L'\\')) {
        return false;
    }
    size_t prefixLength = wcslen(prefix);
    if (prefixLength + length >= MAX_PATH) return false;
    wmemcpy(target, prefix, prefixLength);
    wmemcpy(target + prefixLength, name, length);
    target[prefixLength + length] = L'\0';
    return true;
}

} // namespace

int ReadLinkTarget(const wchar_t* path, wchar_t* target, DWORD* tag) {
    if (!HasReparsePoint(path)) return -1;
    // Attributes alone: junctions that deny listing (the system's compatibility junctions) open too.
    ScopedHandle item(OpenReparseForReading(path));
    if (!item.Valid()) return -1;
    ScopedGlobal transfer(kReparseTransferBytes);
    if (!transfer.Valid()) return -4;
    DWORD returned = 0;
    if (!Kernel().DeviceIoControl(item.Get(), kFsctlGetReparsePoint, nullptr, 0, transfer.As<void>(),
                                  kReparseTransferBytes, &returned, nullptr))
        return -3;
    const auto* record = transfer.As<MountPointRecord>();
    const BYTE* bytes = transfer.As<BYTE>();
    if (returned > kReparseTransferBytes || returned < kPathBufferOffset) return -3;
    DWORD names = kPathBufferOffset;
    bool relative = false;
    if (record->reparseTag == kSymbolicLinkTag) {
        DWORD flags = 0;
        if (returned < names + sizeof flags) return -3;
        memcpy(&flags, bytes + names, sizeof flags);
        relative = (flags & kRelativeLinkFlag) != 0;
        names += sizeof flags;
    } else if (record->reparseTag != kMountPointTag) {
        return -3;
    }
    DWORD offset = record->substituteNameOffset, length = record->substituteNameLength;
    if (offset % 2 || length % 2 || names + offset + length > returned) return -3;
    wchar_t name[MAX_PATH + 8];
    if (length / 2 >= MAX_PATH + 8) return -3;
    memcpy(name, bytes + names + offset, length); // the record need not be aligned for wide characters
    if (relative) { // stored as written, relative to the link's own folder
        if (wmemchr(name, L'\0', length / 2) || length / 2 >= MAX_PATH) return -3;
        wmemcpy(target, name, length / 2);
        target[length / 2] = L'\0';
    } else if (!Win32Target(name, length / 2, target)) {
        return -3;
    }
    *tag = record->reparseTag;
    return relative ? 1 : 0;
}

bool ResolveRelativeLink(const wchar_t* link, const wchar_t* stored, wchar_t* resolved) {
    wchar_t joined[2 * MAX_PATH + 2];
    if (!GetFullPath(link, joined)) return false;
    RemoveTrailingBackslash(joined);
    wchar_t* last = wcsrchr(joined, L'\\');
    if (!last || wcslen(stored) >= MAX_PATH) return false;
    last[1] = L'\0';
    wcscat(joined, stored);
    return BoundedPathLength(joined) < MAX_PATH && GetFullPath(joined, resolved);
}

int GetReparseTarget(const wchar_t* path, wchar_t* target) {
    wchar_t read[MAX_PATH];
    DWORD tag = 0;
    int status = ReadLinkTarget(path, read, &tag);
    if (status < 0) return status;
    if (status != 0 || tag != kMountPointTag) return -3;
    wcscpy(target, read);
    return 0;
}

} // namespace kestrune
