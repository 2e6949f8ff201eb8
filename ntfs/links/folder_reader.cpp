#include "ntfs/links/folder_reader.h"

#include "ntfs/kernel.h"
#include "ntfs/paths.h"

#include <cstddef>
#include <cwchar>

namespace kestrune {
namespace {

constexpr DWORD kNameOffset = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);

// The first call of a listing that finds nothing at all says so with one of these.
bool IsEmptyListing(DWORD error) { return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND; }

} // namespace

HANDLE OpenFolderForListing(const wchar_t* folder, bool isRoot) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (isRoot ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    wchar_t exact[MAX_PATH + 8]; // a folder ending in a dot or a space is itself
    if (!MakeVerbatimPath(folder, exact, MAX_PATH + 8)) return INVALID_HANDLE_VALUE;
    return Kernel().CreateFileW(exact, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, flags, nullptr);
}

bool FolderReader::Open(const wchar_t* folder, size_t length, bool isRoot, DWORD& serial) {
    if (StartIdListing(folder, isRoot, serial)) return true;
    // The folder refuses the id listing: read it by a search, as every volume allows.
    wchar_t pattern[MAX_PATH];
    if (length + 1 >= MAX_PATH) return false;
    wmemcpy(pattern, folder, length);
    pattern[length] = L'*';
    pattern[length + 1] = L'\0';
    search_.Reset(Kernel().FindFirstFileW(pattern, &found_));
    searchPending_ = search_.Valid();
    return searchPending_;
}

bool FolderReader::StartIdListing(const wchar_t* folder, bool isRoot, DWORD& serial) {
    folder_.Reset(OpenFolderForListing(folder, isRoot));
    if (!folder_.Valid()) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (serial != 0 || Kernel().GetFileInformationByHandle(folder_.Get(), &info)) {
        if (serial == 0) serial = info.dwVolumeSerialNumber;
        if (Kernel().GetFileInformationByHandleEx(folder_.Get(), FileIdBothDirectoryRestartInfo, listing_, bytes_)) {
            filled_ = bytes_;
            return true;
        }
        if (IsEmptyListing(GetLastError())) return true;
    }
    folder_.Reset();
    return false;
}

bool FolderReader::Next(FolderEntry& entry) {
    if (folder_.Valid()) return NextListed(entry);
    if (!search_.Valid()) return false;
    if (!searchPending_ && !Kernel().FindNextFileW(search_.Get(), &found_)) {
        search_.Reset();
        return false;
    }
    searchPending_ = false;
    entry = FolderEntry{found_.cFileName, wcsnlen(found_.cFileName, MAX_PATH), found_.dwFileAttributes,
                        found_.dwReserved0, false, 0};
    return true;
}

bool FolderReader::NextListed(FolderEntry& entry) {
    if (next_ >= filled_) {
        // A later call that fails for any reason ends the folder, as a failing FindNextFileW does.
        if (filled_ == 0 ||
            !Kernel().GetFileInformationByHandleEx(folder_.Get(), FileIdBothDirectoryInfo, listing_, bytes_)) {
            filled_ = 0;
            return false;
        }
        next_ = 0;
        filled_ = bytes_;
    }
    const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(listing_ + next_);
    // Each record must lie inside the block, however the file system filled it.
    if (bytes_ - next_ < kNameOffset || info->FileNameLength > bytes_ - next_ - kNameOffset) {
        filled_ = 0;
        return false;
    }
    // The listing puts a reparse point's tag where extended attributes' size would be.
    entry = FolderEntry{info->FileName, info->FileNameLength / sizeof(wchar_t), info->FileAttributes, info->EaSize,
                        true, static_cast<uint64_t>(info->FileId.QuadPart)};
    // After the last record of this call (or one that would lead outside the block) the next call
    // fills the block anew.
    DWORD step = info->NextEntryOffset;
    next_ = (step == 0 || step >= bytes_ - next_) ? filled_ : next_ + step;
    return true;
}

} // namespace kestrune
