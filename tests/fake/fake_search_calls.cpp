// Folder searches: FindFirstFileW and its kin, in the order each file system lists.
#include "tests/fake/fake_volume_model.h"

#include <algorithm>

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
    if (at.record != at.record->volume->root) {
        for (const wchar_t* dot : {L".", L".."})
            if (MatchesPattern(namePattern, dot)) search.entries.push_back(Impl::FindDataOf(dot, at.record));
    }
    size_t firstChild = search.entries.size();
    for (auto& child : at.record->children)
        if (MatchesPattern(namePattern, child.first)) search.entries.push_back(Impl::FindDataOf(child.first, child.second));
    // NTFS lists a folder in the order of its index (upper-cased names, ordinal); FAT in creation order.
    if (at.record->volume->IsNtfs())
        std::stable_sort(search.entries.begin() + static_cast<long>(firstChild), search.entries.end(),
                         [](const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
                             return Upper(a.cFileName) < Upper(b.cFileName);
                         });
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
    if (!g.impl->Find(handle, HandleObject::Search)) {
        ++g.impl->badReleases;
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    g.impl->handles.erase(reinterpret_cast<uintptr_t>(handle));
    return TRUE;
}

} // namespace

void BindSearchCalls(KernelApi& api) {
    api.FindFirstFileW = FakeFindFirstFileW;
    api.FindNextFileW = FakeFindNextFileW;
    api.FindClose = FakeFindClose;
}

} // namespace kestrune::testing
