// Files and handles: paths, the current folder, opens with share modes, links, data.
#include "tests/fake/fake_volume_model.h"

#include <algorithm>
#include <cstring>

namespace kestrune::testing {
namespace {

DWORD WINAPI FakeGetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
    Guard g;
    std::wstring full;
    if (!path || !g.impl->Canonical(path, full)) return Fail<DWORD>(ERROR_INVALID_NAME, 0);
    if (size <= full.size()) return static_cast<DWORD>(full.size() + 1);
    wcscpy(buffer, full.c_str());
    if (filePart) {
        size_t slash = full.find_last_of(L'\\');
        *filePart = (slash == std::wstring::npos || slash + 1 == full.size()) ? nullptr : buffer + slash + 1;
    }
    return static_cast<DWORD>(full.size());
}

DWORD WINAPI FakeGetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    Guard g;
    const std::wstring& cwd = g.impl->currentDirectory;
    if (size <= cwd.size()) return static_cast<DWORD>(cwd.size() + 1);
    wcscpy(buffer, cwd.c_str());
    return static_cast<DWORD>(cwd.size());
}

BOOL WINAPI FakeSetCurrentDirectoryW(LPCWSTR path) {
    Guard g;
    std::wstring full;
    Located at;
    DWORD error = 0;
    if (!path || !g.impl->Canonical(path, full)) return Fail(ERROR_INVALID_NAME, FALSE);
    if (!g.impl->Locate(full, true, at, error)) return Fail(error, FALSE);
    if (!at.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (!at.record->isDir) return Fail(ERROR_DIRECTORY, FALSE);
    if (full.size() > 3 && full.back() == L'\\') full.pop_back();
    g.impl->currentDirectory = full;
    return TRUE;
}

DWORD WINAPI FakeGetFileAttributesW(LPCWSTR path) {
    Guard g;
    Located at;
    DWORD error = 0;
    if (path && HasWildcards(path)) return Fail<DWORD>(ERROR_INVALID_NAME, INVALID_FILE_ATTRIBUTES);
    if (!g.impl->LocatePath(path, false, at, error)) return Fail<DWORD>(error, INVALID_FILE_ATTRIBUTES);
    if (!at.record) return Fail<DWORD>(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    if (!at.stream.empty() && !g.impl->StreamData(at.record, at.stream, false))
        return Fail<DWORD>(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    return at.record->attributes;
}

HANDLE WINAPI FakeCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                              DWORD flags, HANDLE) {
    Guard g;
    Impl* impl = g.impl;
    ++impl->stats.fileOpens;
    Located at;
    DWORD error = 0;
    if (path && HasWildcards(path)) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    if (!impl->LocatePath(path, !(flags & FILE_FLAG_OPEN_REPARSE_POINT), at, error))
        return Fail(error, INVALID_HANDLE_VALUE);
    OpenFile open;
    open.access = access;
    open.share = share;
    open.stream = at.stream;
    bool existed = at.record != nullptr;
    if (!existed) {
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        if (!at.parent || at.parent->denied) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        if (!at.stream.empty() && !at.volume->IsNtfs()) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    } else {
        Record* record = at.record;
        if (record->denied) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        if (open.Deletes() && record->deleteDenied.count(Upper(at.stream))) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        if (record->listDenied && open.Reads()) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        if (record->adminOnly && open.Writes() && !g.impl->elevated) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        if (record->isDir && at.stream.empty() && !(flags & FILE_FLAG_BACKUP_SEMANTICS))
            return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        bool streamExists = impl->StreamData(record, at.stream, false) != nullptr;
        if (!at.stream.empty() && !at.volume->IsNtfs()) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
        if (streamExists && disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
        if (!streamExists && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING))
            return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        if ((record->attributes & FILE_ATTRIBUTE_READONLY) && open.Writes() && !record->isDir)
            return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        // An open that touches no data (query only) is never refused for sharing.
        bool touchesData = open.Reads() || open.Writes() || open.Deletes();
        for (auto& h : impl->handles) {
            if (!touchesData || h.second.kind != HandleObject::File) continue;
            const OpenFile& other = h.second.file;
            if (other.record != record || !SameName(other.stream, at.stream)) continue;
            bool conflict = (open.Reads() && !(other.share & FILE_SHARE_READ)) ||
                            (open.Writes() && !(other.share & FILE_SHARE_WRITE)) ||
                            (open.Deletes() && !(other.share & FILE_SHARE_DELETE)) ||
                            (other.Reads() && !(share & FILE_SHARE_READ)) ||
                            (other.Writes() && !(share & FILE_SHARE_WRITE)) ||
                            (other.Deletes() && !(share & FILE_SHARE_DELETE));
            if (conflict) return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
        }
    }
    Record* record = existed ? at.record : impl->AddEntry(at, false);
    std::vector<uint8_t>* data = impl->StreamData(record, at.stream, true);
    if (existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)) data->clear();
    open.record = record;
    open.parent = at.parent;
    open.name = at.name;
    HandleObject object;
    object.kind = HandleObject::File;
    object.file = open;
    HANDLE handle = impl->NewHandle(std::move(object));
    SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                         : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    {
        Guard g;
        auto it = g.impl->handles.find(reinterpret_cast<uintptr_t>(handle));
        if (it != g.impl->handles.end()) {
            if (it->second.kind == HandleObject::Search || it->second.kind == HandleObject::NameSearch) {
                ++g.impl->badReleases;
                return Fail(ERROR_INVALID_HANDLE, FALSE);
            }
            CloseFileHandle(g.impl, it);
            return TRUE;
        }
    }
    // Threads and other real objects the caller made itself.
    BOOL closed = ::CloseHandle(handle);
    if (!closed) {
        Guard g;
        ++g.impl->badReleases;
    }
    return closed;
}

BOOL WINAPI FakeGetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    Record* record = object->file.record;
    *info = BY_HANDLE_FILE_INFORMATION{};
    info->dwFileAttributes = record->attributes;
    info->dwVolumeSerialNumber = record->volume->options.serial;
    info->nFileSizeLow = static_cast<DWORD>(record->data.size());
    info->nNumberOfLinks = static_cast<DWORD>(record->links);
    info->nFileIndexHigh = static_cast<DWORD>(record->index >> 32);
    info->nFileIndexLow = static_cast<DWORD>(record->index);
    return TRUE;
}

BOOL WINAPI FakeCreateHardLinkW(LPCWSTR newName, LPCWSTR existing, LPSECURITY_ATTRIBUTES) {
    Guard g;
    Located source, target;
    DWORD error = 0;
    if (!g.impl->LocatePath(existing, true, source, error)) return Fail(error, FALSE);
    if (!source.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (!g.impl->LocatePath(newName, false, target, error)) return Fail(error, FALSE);
    if (!source.stream.empty() || !target.stream.empty()) return Fail(ERROR_INVALID_NAME, FALSE);
    // Windows opens the existing file to link it.
    if (source.record->isDir || source.record->denied) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (target.record) return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if (!target.parent) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
    if (target.parent->volume != source.record->volume) return Fail(ERROR_NOT_SAME_DEVICE, FALSE);
    if (!source.record->volume->IsNtfs()) return Fail(ERROR_INVALID_FUNCTION, FALSE);
    if (source.record->links >= 1024) return Fail(ERROR_TOO_MANY_LINKS, FALSE);
    target.parent->AddChild(target.name, source.record);
    ++source.record->links;
    return TRUE;
}

BOOL WINAPI FakeDeleteFileW(LPCWSTR path) {
    Guard g;
    Located at;
    DWORD error = 0;
    if (!g.impl->LocatePath(path, false, at, error)) return Fail(error, FALSE);
    if (!at.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    Record* record = at.record;
    if (!at.stream.empty()) {
        auto& streams = record->streams;
        for (auto it = streams.begin(); it != streams.end(); ++it) {
            if (!SameName(it->first, at.stream)) continue;
            if (record->deleteDenied.count(Upper(at.stream))) return Fail(ERROR_ACCESS_DENIED, FALSE);
            for (auto& h : g.impl->handles)
                if (h.second.kind == HandleObject::File && h.second.file.record == record &&
                    SameName(h.second.file.stream, at.stream) && !(h.second.file.share & FILE_SHARE_DELETE))
                    return Fail(ERROR_SHARING_VIOLATION, FALSE);
            streams.erase(it);
            return TRUE;
        }
        return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    }
    if (record->isDir || (record->attributes & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (g.impl->HasOpenWithoutShare(record, FILE_SHARE_DELETE)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
    at.parent->RemoveChild(at.name);
    --record->links;
    return TRUE;
}

BOOL WINAPI FakeReadFile(HANDLE handle, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (read) *read = 0;
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    OpenFile& file = object->file;
    if (!file.Reads()) return Fail(ERROR_ACCESS_DENIED, FALSE);
    std::vector<uint8_t>* data = g.impl->StreamData(file.record, file.stream, false);
    if (!data || (file.record->isDir && file.stream.empty())) return Fail(ERROR_INVALID_FUNCTION, FALSE);
    uint64_t available = file.position < data->size() ? data->size() - file.position : 0;
    DWORD count = static_cast<DWORD>(std::min<uint64_t>(available, bytes));
    if (count) std::memcpy(buffer, data->data() + file.position, count);
    file.position += count;
    g.impl->stats.bytesRead += count;
    if (read) *read = count;
    return TRUE;
}

BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (written) *written = 0;
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    OpenFile& file = object->file;
    if (!file.Writes()) return Fail(ERROR_ACCESS_DENIED, FALSE);
    std::vector<uint8_t>* data = g.impl->StreamData(file.record, file.stream, true);
    if (data->size() < file.position + bytes && !file.record->volume->Holds(file.position + bytes - data->size()))
        return Fail(ERROR_DISK_FULL, FALSE);
    if (data->size() < file.position + bytes) data->resize(file.position + bytes);
    if (bytes) std::memcpy(data->data() + file.position, buffer, bytes);
    file.position += bytes;
    g.impl->stats.bytesWritten += bytes;
    if (written) *written = bytes;
    return TRUE;
}

DWORD WINAPI FakeGetFileSize(HANDLE handle, LPDWORD high) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (!object) return Fail<DWORD>(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
    std::vector<uint8_t>* data = g.impl->StreamData(object->file.record, object->file.stream, false);
    uint64_t size = data ? data->size() : 0;
    if (high) *high = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL WINAPI FakeGetFileSizeEx(HANDLE handle, PLARGE_INTEGER size) {
    DWORD high = 0;
    DWORD low = FakeGetFileSize(handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return FALSE;
    size->QuadPart = static_cast<LONGLONG>((static_cast<uint64_t>(high) << 32) | low);
    return TRUE;
}

// The entry the handle was opened by, where it still names the file, else the file's first name;
// after the volume's GUID path or its DOS root.
DWORD WINAPI FakeGetFinalPathNameByHandleW(HANDLE handle, LPWSTR buffer, DWORD size, DWORD flags) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (!object) return Fail<DWORD>(ERROR_INVALID_HANDLE, 0);
    const OpenFile& file = object->file;
    Record* record = file.record;
    std::wstring inside = L"\\";
    if (file.parent && g.impl->Child(file.parent, file.name) == record)
        inside = Impl::VolumePath(file.parent, file.name);
    else if (!record->names.empty())
        inside = Impl::VolumePath(record->names.front().first, record->names.front().second);
    else if (record != record->volume->root) {
        // A file deleted while open (POSIX semantics, the default since Windows 10 1809): NTFS moves
        // its last name into a hidden folder until the last handle goes.
        wchar_t hidden[48];
        swprintf(hidden, 48, L"\\$Extend\\$Deleted\\%016llX", static_cast<unsigned long long>(record->index));
        inside = hidden;
    }
    const std::wstring& guid = record->volume->options.nameReadable ? record->volume->guidPath : L"";
    std::wstring root = (flags & VOLUME_NAME_GUID) ? guid.substr(0, guid.empty() ? 0 : guid.size() - 1)
                                                   : g.impl->DosRoot(record->volume);
    if (root.empty()) return Fail<DWORD>(ERROR_PATH_NOT_FOUND, 0);
    std::wstring path = root + inside;
    if (size <= path.size()) return static_cast<DWORD>(path.size() + 1);
    wcscpy(buffer, path.c_str());
    return static_cast<DWORD>(path.size());
}

// Follows a reparse point on the last component as an open does; counted as no open.
BOOL WINAPI FakeGetFileInformationByName(LPCWSTR path, int kind, LPVOID buffer, ULONG size) {
    Guard g;
    Located at;
    DWORD error = ERROR_INVALID_PARAMETER;
    // Like a stat of the name itself: a link on the last component is reported, not followed.
    if (kind != kFileStatBasicByNameInfo || size < sizeof(FileStatBasicInformation) ||
        !g.impl->LocatePath(path, false, at, error) || !at.record)
        return Fail(at.volume ? ERROR_FILE_NOT_FOUND : error, FALSE);
    auto& stat = (*static_cast<FileStatBasicInformation*>(buffer) = FileStatBasicInformation{});
    stat.fileAttributes = at.record->attributes;
    stat.reparseTag = Impl::TagOf(at.record);
    stat.numberOfLinks = static_cast<ULONG>(at.record->links);
    return TRUE;
}

} // namespace

void BindByNameQuery(KernelApi& api, bool present) {
    api.GetFileInformationByName = present ? FakeGetFileInformationByName : nullptr;
}

void BindFileCalls(KernelApi& api) {
    api.GetFinalPathNameByHandleW = FakeGetFinalPathNameByHandleW;
    api.CreateFileW = FakeCreateFileW;
    api.GetFileAttributesW = FakeGetFileAttributesW;
    api.GetFullPathNameW = FakeGetFullPathNameW;
    api.GetFileInformationByHandle = FakeGetFileInformationByHandle;
    api.CreateHardLinkW = FakeCreateHardLinkW;
    api.DeleteFileW = FakeDeleteFileW;
    api.ReadFile = FakeReadFile;
    api.WriteFile = FakeWriteFile;
    api.GetFileSize = FakeGetFileSize;
    api.GetFileSizeEx = FakeGetFileSizeEx;
    api.CloseHandle = FakeCloseHandle;
    api.GetCurrentDirectoryW = FakeGetCurrentDirectoryW;
    api.SetCurrentDirectoryW = FakeSetCurrentDirectoryW;
}

} // namespace kestrune::testing
