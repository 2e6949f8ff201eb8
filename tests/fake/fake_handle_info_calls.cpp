// What is set through an open handle: a stream's new name, the end of its data, its delete
// disposition, and the handle's place in the data.
#include "tests/fake/fake_volume_model.h"

#include <algorithm>

namespace kestrune::testing {
namespace {

bool Holds(const HandleObject& h, Record* record, const std::wstring& stream) {
    return h.kind == HandleObject::File && h.file.record == record && SameName(h.file.stream, stream);
}
void EraseStream(Record* record, const std::wstring& name) {
    auto& s = record->streams;
    s.erase(std::remove_if(s.begin(), s.end(), [&](auto& e) { return SameName(e.first, name); }), s.end());
}

// A named stream renamed in place to ":new" or ":new:$DATA" (NTFS renames named streams only).
BOOL Rename(Impl* impl, OpenFile& file, const FILE_RENAME_INFO* info, DWORD bytes) {
    if (!file.Deletes()) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (bytes < offsetof(FILE_RENAME_INFO, FileName) + info->FileNameLength) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    std::wstring name(info->FileName, info->FileNameLength / 2);
    if (name.empty() || name[0] != L':' || info->RootDirectory) return Fail(ERROR_NOT_SUPPORTED, FALSE); // files: MoveFileExW
    if (!file.record->volume->options.renamesStreams || file.stream.empty()) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    name.erase(0, 1);
    size_t type = std::min(name.find(L':'), name.size());
    bool data = type == name.size() || SameName(name.substr(type + 1), L"$DATA");
    name.erase(type);
    if (!data || name.empty() || name.size() > 255 || name.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos)
        return Fail(ERROR_INVALID_NAME, FALSE);
    Record* record = file.record;
    std::wstring old = file.stream;
    if (SameName(name, old)) return TRUE;
    if (impl->StreamData(record, name, false)) { // replaced only where asked and while nobody holds it
        if (!info->ReplaceIfExists) return Fail(ERROR_ALREADY_EXISTS, FALSE);
        for (auto& h : impl->handles) if (Holds(h.second, record, name)) return Fail(ERROR_ACCESS_DENIED, FALSE);
        EraseStream(record, name);
    }
    for (auto& s : record->streams)
        if (SameName(s.first, old)) s.first = name;
    for (auto& h : impl->handles)
        if (Holds(h.second, record, old)) h.second.file.stream = name;
    return TRUE;
}

BOOL WINAPI FakeSetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID buffer, DWORD bytes) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    OpenFile& file = object->file;
    if (kind == FileRenameInfo && buffer && bytes >= sizeof(FILE_RENAME_INFO))
        return Rename(g.impl, file, static_cast<const FILE_RENAME_INFO*>(buffer), bytes);
    if (kind == FileDispositionInfo && buffer && bytes >= sizeof(FILE_DISPOSITION_INFO)) {
        if (!file.Deletes() || (file.record->isDir && file.stream.empty())) return Fail(ERROR_ACCESS_DENIED, FALSE);
        file.deletePending = static_cast<const FILE_DISPOSITION_INFO*>(buffer)->DeleteFile != FALSE;
        return TRUE;
    }
    if (kind == FileEndOfFileInfo && buffer && bytes >= sizeof(FILE_END_OF_FILE_INFO)) {
        LONGLONG end = static_cast<const FILE_END_OF_FILE_INFO*>(buffer)->EndOfFile.QuadPart;
        if (!file.Writes()) return Fail(ERROR_ACCESS_DENIED, FALSE);
        if (end < 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        std::vector<uint8_t>* data = g.impl->StreamData(file.record, file.stream, true);
        if (static_cast<uint64_t>(end) > data->size() && !file.record->volume->Holds(end - data->size()))
            return Fail(ERROR_DISK_FULL, FALSE);
        data->resize(static_cast<size_t>(end));
        return TRUE;
    }
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
}

BOOL WINAPI FakeSetFilePointerEx(HANDLE handle, LARGE_INTEGER move, PLARGE_INTEGER moved, DWORD method) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (!object || method > FILE_END) return Fail(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE, FALSE);
    OpenFile& file = object->file;
    std::vector<uint8_t>* data = g.impl->StreamData(file.record, file.stream, false);
    long long base = method == FILE_BEGIN ? 0 : method == FILE_CURRENT ? file.position : data ? data->size() : 0;
    if (base + move.QuadPart < 0) return Fail(ERROR_NEGATIVE_SEEK, FALSE);
    file.position = static_cast<uint64_t>(base + move.QuadPart);
    if (moved) moved->QuadPart = static_cast<LONGLONG>(file.position);
    return TRUE;
}

} // namespace

// The stream, or the entry the handle was opened by, goes when the last handle on it closes.
void CloseFileHandle(Impl* impl, std::map<uintptr_t, HandleObject>::iterator it) {
    OpenFile closed = it->second.file;
    impl->handles.erase(it);
    for (auto& h : impl->handles)
        if (Holds(h.second, closed.record, closed.stream))
            return void(h.second.file.deletePending |= closed.deletePending);
    if (!closed.deletePending) return;
    if (!closed.stream.empty()) EraseStream(closed.record, closed.stream);
    else if (closed.parent && closed.parent->RemoveChild(closed.name)) --closed.record->links;
}

void BindHandleInfoCalls(KernelApi& api) {
    api.SetFileInformationByHandle = FakeSetFileInformationByHandle;
    api.SetFilePointerEx = FakeSetFilePointerEx;
}

} // namespace kestrune::testing
