#include "ntfs/links/link_target.h"

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/scoped.h"

namespace kestrune {
namespace {

uint64_t IndexOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// With FILE_FLAG_OPEN_REPARSE_POINT, a name surrogate there (a symbolic link) reads as failure.
// Opened by its "\\?\" form, so that a name ending in a dot or a space names itself.
bool Query(const wchar_t* path, DWORD flags, BY_HANDLE_FILE_INFORMATION& info) {
    wchar_t exact[MAX_PATH + 8];
    if (!MakeVerbatimPath(path, exact, MAX_PATH + 8)) return false;
    ScopedHandle file(Kernel().CreateFileW(exact, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!file.Valid() || !Kernel().GetFileInformationByHandle(file.Get(), &info)) return false;
    if (!(flags & FILE_FLAG_OPEN_REPARSE_POINT) || !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    FILE_ATTRIBUTE_TAG_INFO tag;
    return Kernel().GetFileInformationByHandleEx(file.Get(), FileAttributeTagInfo, &tag, sizeof tag) &&
           !LeadsElsewhere(tag.FileAttributes, tag.ReparseTag);
}

} // namespace

bool LinkTarget::Read(const wchar_t* path) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!Query(path, FILE_ATTRIBUTE_NORMAL, info)) return false;
    index_ = IndexOf(info);
    serial_ = info.dwVolumeSerialNumber;
    return true;
}

bool LinkTarget::IsNamedBy(const wchar_t* path) const {
    BY_HANDLE_FILE_INFORMATION info;
    // The serial number keeps a file of another volume with the same index out of the list:
    // every listed path may be offered for deletion.
    return Query(path, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, info) &&
           HasId(IndexOf(info), info.dwVolumeSerialNumber);
}

void LinkText::Add(const wchar_t* path) {
    found = true;
    // A path that finds no room is dropped; a shorter one after it may still fit.
    if (AppendTextLine(text, chars, used, path)) ++count;
}

} // namespace kestrune
