// An item's named streams through FindFirstStreamW and FindNextStreamW. The query reads no data,
// so no share mode of another open stands in its way.
#include "tests/fake/fake_volume_model.h"

#include <cstring>

namespace kestrune::testing {
namespace {

bool NextStream(HandleObject& search, LPVOID data) {
    if (search.nextEntry >= search.names.size()) return Fail(ERROR_HANDLE_EOF, false);
    auto* found = static_cast<WIN32_FIND_STREAM_DATA*>(data);
    *found = WIN32_FIND_STREAM_DATA{};
    found->StreamSize.QuadPart = static_cast<LONGLONG>(search.sizes[search.nextEntry]);
    wcsncpy(found->cStreamName, search.names[search.nextEntry].c_str(), MAX_PATH + 35);
    ++search.nextEntry;
    return true;
}

HANDLE WINAPI FakeFindFirstStreamW(LPCWSTR path, STREAM_INFO_LEVELS level, LPVOID data, DWORD flags) {
    Guard g;
    Impl* impl = g.impl;
    if (level != FindStreamInfoStandard || flags != 0 || !data) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    if (impl->streamCalls == StreamCalls::Refused) return Fail(ERROR_INVALID_FUNCTION, INVALID_HANDLE_VALUE);
    Located at;
    DWORD error = 0;
    if (!impl->LocatePath(path, true, at, error)) return Fail(error, INVALID_HANDLE_VALUE);
    if (!at.record || !at.stream.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (at.record->denied) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    HandleObject search;
    search.kind = HandleObject::StreamSearch;
    if (!at.record->isDir) { // a file's unnamed data stream comes first
        search.names.push_back(L"::$DATA");
        search.sizes.push_back(at.record->data.size());
    }
    for (auto& stream : at.record->volume->IsNtfs() ? at.record->streams : decltype(at.record->streams){}) {
        search.names.push_back(L":" + stream.first + L":$DATA");
        search.sizes.push_back(stream.second.size());
    }
    if (!NextStream(search, data)) return INVALID_HANDLE_VALUE;
    return impl->NewHandle(std::move(search));
}

BOOL WINAPI FakeFindNextStreamW(HANDLE handle, LPVOID data) {
    Guard g;
    HandleObject* search = g.impl->Find(handle, HandleObject::StreamSearch);
    if (!search) return Fail(ERROR_INVALID_HANDLE, FALSE);
    return NextStream(*search, data) ? TRUE : FALSE;
}

} // namespace

void BindStreamSearchCalls(KernelApi& api, StreamCalls calls) {
    api.FindFirstStreamW = calls == StreamCalls::Absent ? nullptr : FakeFindFirstStreamW;
    api.FindNextStreamW = calls == StreamCalls::Absent ? nullptr : FakeFindNextStreamW;
}

} // namespace kestrune::testing
