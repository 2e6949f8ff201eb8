// Folder searches and listings: FindFirstFileW and its kin, a folder's id-bearing listing through
// its handle, and the names of one file, each in the order the file system gives them.
#include "tests/fake/fake_volume_model.h"

#include <cstddef>
#include <cstring>

namespace kestrune::testing {
namespace {

HANDLE WINAPI FakeFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    Guard g;
    ++g.impl->stats.findFirsts;
    std::wstring full;
    if (!pattern || !g.impl->Canonical(pattern, full)) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    size_t slash = full.find_last_of(L'\\');
    if (slash == std::wstring::npos) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::wstring folder = full.substr(0, slash + 1), namePattern = full.substr(slash + 1);
    if (namePattern.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (namePattern.find(L':') != std::wstring::npos) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    Located at;
    DWORD error = 0;
    if (!g.impl->Locate(folder, true, at, error)) return Fail(error, INVALID_HANDLE_VALUE);
    if (!at.record || !at.record->isDir) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (at.record->denied) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    HandleObject search;
    search.kind = HandleObject::Search;
    for (auto& entry : Impl::Listing(at.record))
        if (MatchesPattern(namePattern, entry.first)) search.entries.push_back(Impl::FindDataOf(entry.first, entry.second));
    if (search.entries.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    *data = search.entries[0];
    search.nextEntry = 1;
    return g.impl->NewHandle(std::move(search));
}

BOOL WINAPI FakeFindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data) {
    Guard g;
    ++g.impl->stats.findNexts;
    HandleObject* search = g.impl->Find(handle, HandleObject::Search);
    if (!search) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (search->nextEntry >= search->entries.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
    *data = search->entries[search->nextEntry++];
    return TRUE;
}

BOOL WINAPI FakeFindClose(HANDLE handle) {
    Guard g;
    if (!g.impl->Find(handle, HandleObject::Search) && !g.impl->Find(handle, HandleObject::NameSearch) &&
        !g.impl->Find(handle, HandleObject::StreamSearch)) {
        ++g.impl->badReleases;
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    g.impl->handles.erase(reinterpret_cast<uintptr_t>(handle));
    return TRUE;
}

// FileIdBothDirectoryInfo: as many entries as fit, 8-byte aligned; the restart class starts over.
BOOL WINAPI FakeGetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID buffer, DWORD size) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    Record* record = object->file.record;
    if (kind == FileAttributeTagInfo && size >= sizeof(FILE_ATTRIBUTE_TAG_INFO)) {
        *static_cast<FILE_ATTRIBUTE_TAG_INFO*>(buffer) = {record->attributes, Impl::TagOf(record)};
        return TRUE;
    }
    if (kind != FileIdBothDirectoryInfo && kind != FileIdBothDirectoryRestartInfo) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    Record* folder = record;
    if (!folder->isDir || !object->file.stream.empty()) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!object->file.Reads()) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (g.impl->idListingRefused || folder->refusesIdListing) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    bool first = kind == FileIdBothDirectoryRestartInfo || !object->listingStarted;
    if (first) {
        object->listing = Impl::Listing(folder);
        object->nextListed = 0;
        object->listingStarted = true;
    }
    if (object->nextListed >= object->listing.size()) return Fail(first ? ERROR_FILE_NOT_FOUND : ERROR_NO_MORE_FILES, FALSE);
    auto* out = static_cast<uint8_t*>(buffer);
    FILE_ID_BOTH_DIR_INFO* previous = nullptr;
    DWORD used = 0;
    while (object->nextListed < object->listing.size()) {
        const auto& entry = object->listing[object->nextListed];
        DWORD bytes = static_cast<DWORD>(offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + entry.first.size() * sizeof(wchar_t));
        DWORD start = (used + 7) & ~7u;
        if (start + bytes > size) break;
        auto* info = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(out + start);
        std::memset(info, 0, offsetof(FILE_ID_BOTH_DIR_INFO, FileName));
        info->FileAttributes = entry.second->attributes;
        info->EaSize = Impl::TagOf(entry.second);
        info->FileNameLength = static_cast<DWORD>(entry.first.size() * sizeof(wchar_t));
        info->FileId.QuadPart = static_cast<LONGLONG>(entry.second->index);
        std::memcpy(info->FileName, entry.first.data(), info->FileNameLength);
        if (previous) previous->NextEntryOffset = start - static_cast<DWORD>(reinterpret_cast<uint8_t*>(previous) - out);
        previous = info;
        used = start + bytes;
        ++object->nextListed;
    }
    return previous ? TRUE : Fail(ERROR_MORE_DATA, FALSE);
}

// The next name into `name` (`*length` characters); a name that does not fit is kept for the next call.
BOOL NextLinkName(HandleObject& search, LPDWORD length, PWSTR name) {
    if (search.nextEntry >= search.namesBeforeRefusal) return Fail(ERROR_INVALID_FUNCTION, FALSE);
    if (search.nextEntry >= search.names.size()) return Fail(ERROR_HANDLE_EOF, FALSE);
    const std::wstring& next = search.names[search.nextEntry];
    bool fits = *length > next.size();
    *length = static_cast<DWORD>(next.size() + 1);
    if (!fits) return Fail(ERROR_MORE_DATA, FALSE);
    std::memcpy(name, next.c_str(), (next.size() + 1) * sizeof(wchar_t));
    ++search.nextEntry;
    return TRUE;
}

// The names come from the volume's root, newest link first: no order the caller may rely on.
HANDLE WINAPI FakeFindFirstFileNameW(LPCWSTR path, DWORD flags, LPDWORD length, PWSTR name) {
    Guard g;
    if (flags != 0 || !length || !name) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    Located at;
    DWORD error = 0;
    if (!g.impl->LocatePath(path, true, at, error)) return Fail(error, INVALID_HANDLE_VALUE);
    if (!at.record || !at.stream.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (!at.volume->IsNtfs()) return Fail(ERROR_INVALID_FUNCTION, INVALID_HANDLE_VALUE);
    HandleObject search;
    search.kind = HandleObject::NameSearch;
    search.namesBeforeRefusal = static_cast<size_t>(at.volume->options.namesBeforeRefusal); // -1: SIZE_MAX
    for (auto it = at.record->names.rbegin(); it != at.record->names.rend(); ++it)
        search.names.push_back(Impl::VolumePath(it->first, it->second));
    if (search.names.empty()) return Fail(ERROR_HANDLE_EOF, INVALID_HANDLE_VALUE);
    if (!NextLinkName(search, length, name)) return INVALID_HANDLE_VALUE;
    return g.impl->NewHandle(std::move(search));
}

BOOL WINAPI FakeFindNextFileNameW(HANDLE handle, LPDWORD length, PWSTR name) {
    Guard g;
    HandleObject* search = g.impl->Find(handle, HandleObject::NameSearch);
    if (!search || !length || !name) return Fail(ERROR_INVALID_HANDLE, FALSE);
    return NextLinkName(*search, length, name);
}

} // namespace

void BindSearchCalls(KernelApi& api) {
    api.FindFirstFileW = FakeFindFirstFileW;
    api.FindNextFileW = FakeFindNextFileW;
    api.FindClose = FakeFindClose;
    api.GetFileInformationByHandleEx = FakeGetFileInformationByHandleEx;
    api.FindFirstFileNameW = FakeFindFirstFileNameW;
    api.FindNextFileNameW = FakeFindNextFileNameW;
}

} // namespace kestrune::testing
