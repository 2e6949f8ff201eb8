// What is set through an open handle: a stream's new name, the end of its data, its delete
// disposition, and the handle's place in the data.
#include "tests/fake/fake_volume_model.h"

#include <algorithm>

namespace kestrune::testing {

void CloseFileHandle(Impl* impl, std::map<uintptr_t, HandleObject>::iterator it) {
    OpenFile closed = it->second.file;
    impl->handles.erase(it);
    bool pending = closed.deletePending;
    for (auto& h : impl->handles) {
        const OpenFile& other = h.second.file;
        if (h.second.kind != HandleObject::File || other.record != closed.record || !SameName(other.stream, closed.stream))
            continue;
        if (!pending && !other.deletePending) continue;
        // Another open of the same stream keeps it; the disposition goes on with the stream.
        h.second.file.deletePending = true;
        return;
    }
    if (!pending || !closed.record) return;
    Record* record = closed.record;
    if (!closed.stream.empty()) {
        auto& streams = record->streams;
        streams.erase(std::remove_if(streams.begin(), streams.end(),
                                     [&](auto& s) { return SameName(s.first, closed.stream); }),
                      streams.end());
    } else if (closed.parent && closed.parent->RemoveChild(closed.name)) {
        --record->links;
    }
}

namespace {

// A named stream renamed in place (":new" or ":new:$DATA") on the volume of the open stream.
BOOL Rename(Impl* impl, OpenFile& file, const FILE_RENAME_INFO* info, DWORD bytes) {
    if (!file.Deletes()) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (bytes < sizeof(FILE_RENAME_INFO) || info->FileNameLength % 2 ||
        bytes < offsetof(FILE_RENAME_INFO, FileName) + info->FileNameLength)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    std::wstring name(info->FileName, info->FileNameLength / 2);
    // Only stream renames are modelled; a file's rename goes through MoveFileExW here.
    if (name.empty() || name[0] != L':' || info->RootDirectory) return Fail(ERROR_NOT_SUPPORTED, FALSE);
    if (!file.record->volume->options.renamesStreams) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    name.erase(0, 1);
    size_t type = name.find(L':');
    if (type != std::wstring::npos) {
        if (!SameName(name.substr(type + 1), L"$DATA")) return Fail(ERROR_INVALID_NAME, FALSE);
        name.erase(type);
    }
    if (name.empty() || name.size() > 255 || name.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos)
        return Fail(ERROR_INVALID_NAME, FALSE);
    // NTFS renames a named stream to another named stream; the unnamed one is left alone here.
    if (file.stream.empty()) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (SameName(name, file.stream)) return TRUE;
    Record* record = file.record;
    if (impl->StreamData(record, name, false)) {
        if (!info->ReplaceIfExists) return Fail(ERROR_ALREADY_EXISTS, FALSE);
        for (auto& h : impl->handles)
            if (h.second.kind == HandleObject::File && h.second.file.record == record && SameName(h.second.file.stream, name))
                return Fail(ERROR_ACCESS_DENIED, FALSE);
        auto& streams = record->streams;
        streams.erase(std::remove_if(streams.begin(), streams.end(), [&](auto& s) { return SameName(s.first, name); }),
                      streams.end());
    }
    std::wstring old = file.stream;
    for (auto& s : record->streams)
        if (SameName(s.first, old)) s.first = name;
    for (auto& h : impl->handles)
        if (h.second.kind == HandleObject::File && h.second.file.record == record && SameName(h.second.file.stream, old))
            h.second.file.stream = name;
    return TRUE;
}

BOOL WINAPI FakeSetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID buffer, DWORD bytes) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    OpenFile& file = object->file;
    if (!buffer) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    switch (kind) {
    case FileRenameInfo:
        return Rename(g.impl, file, static_cast<const FILE_RENAME_INFO*>(buffer), bytes);
    case FileDispositionInfo:
        if (bytes < sizeof(FILE_DISPOSITION_INFO)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        if (!file.Deletes()) return Fail(ERROR_ACCESS_DENIED, FALSE);
        if (file.record->isDir && file.stream.empty()) return Fail(ERROR_ACCESS_DENIED, FALSE);
        file.deletePending = static_cast<const FILE_DISPOSITION_INFO*>(buffer)->DeleteFile != FALSE;
        return TRUE;
    case FileEndOfFileInfo: {
        if (bytes < sizeof(FILE_END_OF_FILE_INFO)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        if (!file.Writes()) return Fail(ERROR_ACCESS_DENIED, FALSE);
        LONGLONG end = static_cast<const FILE_END_OF_FILE_INFO*>(buffer)->EndOfFile.QuadPart;
        if (end < 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        g.impl->StreamData(file.record, file.stream, true)->resize(static_cast<size_t>(end));
        return TRUE;
    }
    default:
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
}

BOOL WINAPI FakeSetFilePointerEx(HANDLE handle, LARGE_INTEGER move, PLARGE_INTEGER moved, DWORD method) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    OpenFile& file = object->file;
    std::vector<uint8_t>* data = g.impl->StreamData(file.record, file.stream, false);
    long long base = method == FILE_BEGIN ? 0
                   : method == FILE_CURRENT ? static_cast<long long>(file.position)
                   : method == FILE_END ? static_cast<long long>(data ? data->size() : 0) : -1;
    if (base < 0 || base + move.QuadPart < 0) return Fail(ERROR_NEGATIVE_SEEK, FALSE);
    file.position = static_cast<uint64_t>(base + move.QuadPart);
    if (moved) moved->QuadPart = static_cast<LONGLONG>(file.position);
    return TRUE;
}

} // namespace

void BindHandleInfoCalls(KernelApi& api) {
    api.SetFileInformationByHandle = FakeSetFileInformationByHandle;
    api.SetFilePointerEx = FakeSetFilePointerEx;
}

} // namespace kestrune::testing
