// Windows' REPARSE_DATA_BUFFER in its mount-point form, as the file system exchanges it.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>

namespace kestrune {

constexpr DWORD kMountPointTag = 0xA0000003;      // IO_REPARSE_TAG_MOUNT_POINT
constexpr DWORD kSymbolicLinkTag = 0xA000000C;    // IO_REPARSE_TAG_SYMLINK
constexpr uint32_t kRelativeSymbolicLink = 1;      // SYMLINK_FLAG_RELATIVE, after a symbolic link's names' fields
constexpr DWORD kReparseTransferBytes = 16384;     // MAXIMUM_REPARSE_DATA_BUFFER_SIZE
constexpr DWORD kReparseHeaderBytes = 8;           // tag, data length, reserved
constexpr DWORD kFsctlGetReparsePoint = 0x000900A8;
constexpr DWORD kFsctlSetReparsePoint = 0x000900A4;
constexpr DWORD kFsctlDeleteReparsePoint = 0x000900AC;

struct MountPointRecord {
    uint32_t reparseTag;
    uint16_t reparseDataLength;
    uint16_t reserved;
    uint16_t substituteNameOffset;
    uint16_t substituteNameLength;
    uint16_t printNameOffset;
    uint16_t printNameLength;
    wchar_t pathBuffer[1];
};

static_assert(offsetof(MountPointRecord, reparseDataLength) == 4, "record layout");
static_assert(offsetof(MountPointRecord, substituteNameOffset) == 8, "record layout");
static_assert(offsetof(MountPointRecord, printNameLength) == 14, "record layout");
static_assert(offsetof(MountPointRecord, pathBuffer) == 16, "record layout");
constexpr DWORD kPathBufferOffset = 16;

// Symbolic links and junctions name another entry; any other tag (deduplication, cloud files,
// system compression) is served in place by its file-system filter.
inline bool IsNameSurrogate(DWORD tag) { return (tag & 0x20000000) != 0; }

// The one rule for every walk, guard, menu and overlay: an item whose reparse point is a name
// surrogate (a junction, a volume mount, a symbolic link) leads elsewhere and is not entered; any
// other tag (cloud placeholders of a sync root, deduplication, compression) marks an ordinary item
// served in place. A reparse point whose tag cannot be read (0, as Wine's drives give) may lead
// anywhere, so it counts as leading elsewhere. The tag comes without an open from a search
// (WIN32_FIND_DATA's dwReserved0), a folder listing (EaSize) or the by-name query.
inline bool LeadsElsewhere(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (tag == 0 || IsNameSurrogate(tag));
}

} // namespace kestrune
