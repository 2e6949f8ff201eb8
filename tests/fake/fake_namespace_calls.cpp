// Names that come, move or go: CreateDirectoryW, CreateSymbolicLinkW, MoveFileExW within a volume
// and RemoveDirectoryW, which takes a folder link (junction or symbolic link) away without touching
// what it leads to.
#include "tests/fake/fake_volume_model.h"

#include <cstring>

#include "ntfs/reparse/reparse_record.h"

namespace kestrune::testing {
namespace {

BOOL WINAPI FakeMoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    Guard g;
    Located from, to;
    DWORD error = 0;
    if (!g.impl->LocatePath(existing, false, from, error) || !g.impl->LocatePath(newName, false, to, error))
        return Fail(error, FALSE);
    if (!from.record || !to.parent || !from.stream.empty() || !to.stream.empty()) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (to.parent->volume != from.record->volume) return Fail(ERROR_NOT_SAME_DEVICE, FALSE);
    if (g.impl->HasOpenWithoutShare(from.record, FILE_SHARE_DELETE)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
    if (to.record && to.record != from.record) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS, FALSE);
        if (to.record->isDir || (to.record->attributes & FILE_ATTRIBUTE_READONLY) ||
            g.impl->HasOpenWithoutShare(to.record, FILE_SHARE_DELETE))
            return Fail(ERROR_ACCESS_DENIED, FALSE);
        --to.parent->RemoveChild(to.name)->links;
    }
    from.parent->RemoveChild(from.name);
    to.parent->AddChild(to.name, from.record);
    // A handle opened through the renamed entry follows it, as NTFS keeps the link a handle was opened by.
    for (auto& h : g.impl->handles)
        if (h.second.kind == HandleObject::File && h.second.file.parent == from.parent &&
            Upper(h.second.file.name) == Upper(from.name) && h.second.file.record == from.record)
            h.second.file.parent = to.parent, h.second.file.name = to.name;
    return TRUE;
}

BOOL WINAPI FakeRemoveDirectoryW(LPCWSTR path) {
    Guard g;
    Located at;
    DWORD error = 0;
    if (!g.impl->LocatePath(path, false, at, error)) return Fail(error, FALSE);
    Record* record = at.record;
    if (!record || !record->isDir || !at.stream.empty()) return Fail(record ? ERROR_DIRECTORY : ERROR_FILE_NOT_FOUND, FALSE);
    if (!at.parent || record->denied || g.impl->HasOpenWithoutShare(record, FILE_SHARE_DELETE))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (record->reparse.empty() && !record->children.empty()) return Fail(ERROR_DIR_NOT_EMPTY, FALSE);
    --at.parent->RemoveChild(at.name)->links;
    return TRUE;
}

BOOL WINAPI FakeCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    Guard g;
    Located at;
    DWORD error = 0;
    if (!g.impl->LocatePath(path, false, at, error)) return Fail(error, FALSE);
    if (at.record) return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if (!at.parent || !at.stream.empty()) return Fail(at.parent ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND, FALSE);
    if (at.parent->denied) return Fail(ERROR_ACCESS_DENIED, FALSE);
    g.impl->AddEntry(at, true);
    return TRUE;
}

// The target as the link keeps it: a name with a drive or a share ("D:\x", "\\srv\s\x", "\\?\D:\x") is
// made full and absolute, "\??\D:\x" or "\??\UNC\srv\s\x" with the DOS name to print; any other name
// is kept as given and marked relative, to be resolved from the link's own folder.
bool LinkNames(Impl* impl, const std::wstring& target, std::wstring& substitute, std::wstring& print, uint32_t& flags) {
    bool absolute = (target.size() >= 2 && target[1] == L':') || target.rfind(L"\\\\", 0) == 0;
    if (!absolute) {
        substitute = print = target;
        flags = kRelativeSymbolicLink;
        return !target.empty();
    }
    std::wstring full;
    if (!impl->Canonical(target, full)) return false;
    if (full.rfind(L"\\\\?\\", 0) == 0) full = full.rfind(L"\\\\?\\UNC\\", 0) == 0 ? L"\\" + full.substr(7) : full.substr(4);
    print = full;
    substitute = full.rfind(L"\\\\", 0) == 0 ? L"\\??\\UNC" + full.substr(1) : L"\\??\\" + full;
    flags = 0;
    return true;
}

// The right is the process's, Developer Mode the machine's; a Windows before 10 1703 knows no
// unprivileged flag and refuses it as a parameter.
BOOLEAN WINAPI FakeCreateSymbolicLinkW(LPCWSTR link, LPCWSTR target, DWORD flags) {
    Guard g;
    Impl* impl = g.impl;
    constexpr DWORD kDirectory = 0x1, kUnprivileged = 0x2;
    if (!link || !target || (flags & ~(kDirectory | kUnprivileged)) ||
        ((flags & kUnprivileged) && !impl->unprivilegedFlagKnown))
        return Fail<BOOLEAN>(ERROR_INVALID_PARAMETER, FALSE);
    if (impl->symbolicLinkRight == SymbolicLinkRight::None ||
        (impl->symbolicLinkRight == SymbolicLinkRight::DeveloperMode && !(flags & kUnprivileged)))
        return Fail<BOOLEAN>(ERROR_PRIVILEGE_NOT_HELD, FALSE);
    std::wstring substitute, print;
    uint32_t linkFlags = 0;
    if (!LinkNames(impl, target, substitute, print, linkFlags)) return Fail<BOOLEAN>(ERROR_INVALID_NAME, FALSE);
    Located at;
    DWORD error = 0;
    if (!impl->LocatePath(link, false, at, error)) return Fail<BOOLEAN>(error, FALSE);
    if (at.record) return Fail<BOOLEAN>(ERROR_ALREADY_EXISTS, FALSE);
    if (!at.parent || !at.stream.empty()) return Fail<BOOLEAN>(at.parent ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND, FALSE);
    if (at.parent->denied) return Fail<BOOLEAN>(ERROR_ACCESS_DENIED, FALSE);
    if (!at.volume->IsNtfs()) return Fail<BOOLEAN>(ERROR_INVALID_FUNCTION, FALSE);
    Record* record = impl->AddEntry(at, flags & kDirectory);
    // Windows writes the print name first; the flags field follows the names' offsets and lengths.
    record->reparse = ReparseRecord(kSymbolicLinkTag, substitute, print, true);
    std::memcpy(record->reparse.data() + 16, &linkFlags, 4);
    record->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return TRUE;
}

} // namespace

void BindNamespaceCalls(KernelApi& api) {
    api.CreateDirectoryW = FakeCreateDirectoryW;
    api.CreateSymbolicLinkW = FakeCreateSymbolicLinkW;
    api.MoveFileExW = FakeMoveFileExW;
    api.RemoveDirectoryW = FakeRemoveDirectoryW;
}

} // namespace kestrune::testing
