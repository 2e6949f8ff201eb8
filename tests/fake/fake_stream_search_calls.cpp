// An item's named streams through FindFirstStreamW and FindNextStreamW. The query reads no data,
// so no share mode of another open stands in its way.
#include "tests/fake/fake_volume_model.h"

namespace kestrune::testing {
namespace {

BOOL WINAPI FakeFindNextStreamW(HANDLE handle, LPVOID data) {
    Guard g;
    HandleObject* search = g.impl->Find(handle, HandleObject::StreamSearch);
    if (!search) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (search->nextEntry >= search->names.size()) return Fail(ERROR_HANDLE_EOF, FALSE);
    auto* found = static_cast<WIN32_FIND_STREAM_DATA*>(data);
    found->StreamSize.QuadPart = static_cast<LONGLONG>(search->sizes[search->nextEntry]);
    wcsncpy(found->cStreamName, search->names[search->nextEntry++].c_str(), MAX_PATH + 36);
    return TRUE;
}

HANDLE WINAPI FakeFindFirstStreamW(LPCWSTR path, STREAM_INFO_LEVELS level, LPVOID data, DWORD flags) {
    Guard g;
    Located at;
    DWORD error = ERROR_INVALID_PARAMETER;
    if (level != FindStreamInfoStandard || flags != 0 || !data || !g.impl->LocatePath(path, true, at, error))
        return Fail(error, INVALID_HANDLE_VALUE);
    if (g.impl->streamCalls == StreamCalls::Refused) return Fail(ERROR_INVALID_FUNCTION, INVALID_HANDLE_VALUE);
    if (!at.record || !at.stream.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (at.record->denied) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    HandleObject search;
    search.kind = HandleObject::StreamSearch;
    if (!at.record->isDir) search.names = {L"::$DATA"}, search.sizes = {at.record->data.size()}; // the unnamed stream first
    for (auto& stream : at.record->streams) {
        if (!at.record->volume->IsNtfs()) break;
        search.names.push_back(L":" + stream.first + L":$DATA");
        search.sizes.push_back(stream.second.size());
    }
    for (auto& other : at.record->otherStreams) search.names.push_back(L":" + other.first + L":" + other.second), search.sizes.push_back(0);
    HANDLE handle = g.impl->NewHandle(std::move(search));
    if (FakeFindNextStreamW(handle, data)) return handle;
    g.impl->handles.erase(reinterpret_cast<uintptr_t>(handle));
    return Fail(ERROR_HANDLE_EOF, INVALID_HANDLE_VALUE);
}

} // namespace

void BindStreamSearchCalls(KernelApi& api, StreamCalls calls) {
    api.FindFirstStreamW = calls == StreamCalls::Absent ? nullptr : FakeFindFirstStreamW;
    api.FindNextStreamW = calls == StreamCalls::Absent ? nullptr : FakeFindNextStreamW;
}

} // namespace kestrune::testing
