// Reparse points and mounts: the reparse requests and the mount manager.
#include "tests/fake/fake_volume_model.h"

#include "ntfs/reparse/reparse_record.h"

#include <algorithm>
#include <cstring>

namespace kestrune::testing {
namespace {

BOOL WINAPI FakeDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (returned) *returned = 0;
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    Record* record = object->file.record;
    Volume* volume = record->volume;
    if (code == kFsctlGetReparsePoint) {
        if (record->reparse.empty()) return Fail(ERROR_NOT_A_REPARSE_POINT, FALSE);
        if (record->reparseUnreadable) return Fail(ERROR_ACCESS_DENIED, FALSE);
        if (outSize < kReparseHeaderBytes) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
        DWORD count = static_cast<DWORD>(std::min<size_t>(outSize, record->reparse.size()));
        std::memcpy(out, record->reparse.data(), count);
        if (returned) *returned = count;
        if (count < record->reparse.size()) return Fail(ERROR_MORE_DATA, FALSE);
        return TRUE;
    }
    if (code == kFsctlSetReparsePoint || code == kFsctlDeleteReparsePoint) {
        if (!object->file.Writes()) return Fail(ERROR_ACCESS_DENIED, FALSE);
        if (!volume->IsNtfs()) return Fail(ERROR_INVALID_FUNCTION, FALSE);
        if (!in || inSize < kReparseHeaderBytes || inSize > kReparseTransferBytes)
            return Fail(ERROR_INVALID_REPARSE_DATA, FALSE);
        const auto* header = static_cast<const MountPointRecord*>(in);
        if (code == kFsctlDeleteReparsePoint) {
            if (inSize != kReparseHeaderBytes || header->reparseDataLength != 0)
                return Fail(ERROR_INVALID_REPARSE_DATA, FALSE);
            if (record->reparse.empty()) return Fail(ERROR_NOT_A_REPARSE_POINT, FALSE);
            if (*reinterpret_cast<const DWORD*>(record->reparse.data()) != header->reparseTag)
                return Fail(ERROR_REPARSE_TAG_MISMATCH, FALSE);
            record->reparse.clear();
            record->reparseUnreadable = false;
            record->attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
            return TRUE;
        }
        if (inSize != header->reparseDataLength + kReparseHeaderBytes) return Fail(ERROR_INVALID_REPARSE_DATA, FALSE);
        if (!record->reparse.empty() && *reinterpret_cast<const DWORD*>(record->reparse.data()) != header->reparseTag)
            return Fail(ERROR_REPARSE_TAG_MISMATCH, FALSE);
        if (header->reparseTag == kMountPointTag) {
            if (inSize < 16 ||
                16u + header->substituteNameOffset + header->substituteNameLength > inSize ||
                16u + header->printNameOffset + header->printNameLength > inSize)
                return Fail(ERROR_INVALID_REPARSE_DATA, FALSE);
            if (!record->isDir) return Fail(ERROR_DIRECTORY, FALSE);
            if (!record->children.empty()) return Fail(ERROR_DIR_NOT_EMPTY, FALSE);
        }
        record->reparse.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inSize);
        record->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        return TRUE;
    }
    return Fail(ERROR_INVALID_FUNCTION, FALSE);
}

BOOL WINAPI FakeGetVolumeNameForVolumeMountPointW(LPCWSTR mountPoint, LPWSTR name, DWORD size) {
    Guard g;
    Impl* impl = g.impl;
    std::wstring full;
    if (!mountPoint || !*mountPoint || mountPoint[wcslen(mountPoint) - 1] != L'\\' ||
        !impl->Canonical(mountPoint, full))
        return Fail(ERROR_INVALID_NAME, FALSE);
    if (full.rfind(L"\\\\", 0) == 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    Volume* volume = nullptr;
    if (full.size() == 3) {
        volume = impl->VolumeByLetter(full[0]);
        if (!volume) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
        if (!volume->options.ready || !volume->options.nameReadable) return Fail(ERROR_NOT_READY, FALSE);
    } else {
        Located at;
        DWORD error = 0;
        if (!impl->Locate(full, false, at, error)) return Fail(error, FALSE);
        if (!at.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
        if (at.record->reparse.empty()) return Fail(ERROR_NOT_A_REPARSE_POINT, FALSE);
        DWORD followError = 0;
        Record* target = impl->FollowReparse(at.record, 0, followError);
        if (!target || target != target->volume->root) return Fail(ERROR_NOT_A_REPARSE_POINT, FALSE);
        volume = target->volume;
    }
    if (size <= volume->guidPath.size()) return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
    wcscpy(name, volume->guidPath.c_str());
    return TRUE;
}

BOOL WINAPI FakeSetVolumeMountPointW(LPCWSTR mountPoint, LPCWSTR volumeName) {
    Guard g;
    Impl* impl = g.impl;
    std::wstring full;
    if (!mountPoint || !volumeName || !*mountPoint || mountPoint[wcslen(mountPoint) - 1] != L'\\' ||
        !impl->Canonical(mountPoint, full))
        return Fail(ERROR_INVALID_NAME, FALSE);
    if (!impl->elevated) return Fail(ERROR_ACCESS_DENIED, FALSE); // the mount manager serves administrators only
    std::wstring volumePath = volumeName;
    if (volumePath.empty() || volumePath.back() != L'\\') return Fail(ERROR_INVALID_NAME, FALSE);
    Volume* volume = impl->VolumeByGuidPath(volumePath);
    if (!volume) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    Located at;
    DWORD error = 0;
    if (!impl->Locate(full, false, at, error)) return Fail(error, FALSE);
    if (!at.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (!at.record->isDir) return Fail(ERROR_DIRECTORY, FALSE);
    if (!at.record->volume->IsNtfs()) return Fail(ERROR_INVALID_FUNCTION, FALSE);
    if (!at.record->children.empty() || !at.record->reparse.empty()) return Fail(ERROR_DIR_NOT_EMPTY, FALSE);
    at.record->reparse = ReparseRecord(kMountPointTag, L"\\??\\" + volumePath.substr(4));
    at.record->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    volume->mountedAt.push_back(full);
    return TRUE;
}

// Removes a volume's mount point from the folder and from the mount manager's list; a raw
// reparse delete (FSCTL_DELETE_REPARSE_POINT) removes the folder's record alone.
BOOL WINAPI FakeDeleteVolumeMountPointW(LPCWSTR mountPoint) {
    Guard g;
    std::wstring full;
    Located at;
    DWORD error = ERROR_INVALID_NAME;
    if (!g.impl->elevated) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!mountPoint || !*mountPoint || mountPoint[wcslen(mountPoint) - 1] != L'\\' ||
        !g.impl->Canonical(mountPoint, full) || !g.impl->Locate(full, false, at, error) || !at.record)
        return Fail(error, FALSE);
    std::vector<uint8_t>& data = at.record->reparse;
    const auto* header = reinterpret_cast<const MountPointRecord*>(data.data());
    if (data.size() < 16 || header->reparseTag != kMountPointTag ||
        16u + header->substituteNameOffset + header->substituteNameLength > data.size() ||
        std::wstring(reinterpret_cast<const wchar_t*>(data.data() + 16 + header->substituteNameOffset),
                     header->substituteNameLength / 2).rfind(L"\\??\\Volume{", 0) != 0)
        return Fail(ERROR_INVALID_PARAMETER, FALSE); // a junction is no volume mount
    for (auto& v : g.impl->volumes)
        if (Impl::MountEntry(v.get(), full) != v->mountedAt.end()) v->mountedAt.erase(Impl::MountEntry(v.get(), full));
    data.clear();
    at.record->attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
    return TRUE;
}

} // namespace

void BindReparseCalls(KernelApi& api) {
    api.DeviceIoControl = FakeDeviceIoControl;
    api.GetVolumeNameForVolumeMountPointW = FakeGetVolumeNameForVolumeMountPointW;
    api.SetVolumeMountPointW = FakeSetVolumeMountPointW;
    api.DeleteVolumeMountPointW = FakeDeleteVolumeMountPointW;
}

} // namespace kestrune::testing
