// Names that move or go: MoveFileExW within a volume and RemoveDirectoryW, which takes a folder
// link (junction or symbolic link) away without touching what it leads to.
#include "tests/fake/fake_volume_model.h"

namespace kestrune::testing {
namespace {

BOOL WINAPI FakeMoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    Guard g;
    Impl* impl = g.impl;
    Located source, target;
    DWORD error = 0;
    if (!impl->LocatePath(existing, false, source, error) || !impl->LocatePath(newName, false, target, error))
        return Fail(error, FALSE);
    if (!source.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (!source.stream.empty() || !target.stream.empty()) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!target.parent) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
    if (target.parent->volume != source.record->volume) return Fail(ERROR_NOT_SAME_DEVICE, FALSE);
    if (impl->HasOpenWithoutShare(source.record, FILE_SHARE_DELETE)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
    if (target.record && target.record != source.record) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS, FALSE);
        if (target.record->isDir || (target.record->attributes & FILE_ATTRIBUTE_READONLY) ||
            impl->HasOpenWithoutShare(target.record, FILE_SHARE_DELETE))
            return Fail(ERROR_ACCESS_DENIED, FALSE);
        target.parent->RemoveChild(target.name);
        --target.record->links;
    }
    source.parent->RemoveChild(source.name);
    target.parent->AddChild(target.name, source.record);
    return TRUE;
}

BOOL WINAPI FakeRemoveDirectoryW(LPCWSTR path) {
    Guard g;
    Located at;
    DWORD error = 0;
    if (!g.impl->LocatePath(path, false, at, error)) return Fail(error, FALSE);
    if (!at.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    Record* record = at.record;
    if (!record->isDir || !at.stream.empty()) return Fail(ERROR_DIRECTORY, FALSE);
    if (!at.parent || record->denied) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (record->reparse.empty() && !record->children.empty()) return Fail(ERROR_DIR_NOT_EMPTY, FALSE);
    if (g.impl->HasOpenWithoutShare(record, FILE_SHARE_DELETE)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
    at.parent->RemoveChild(at.name);
    --record->links;
    return TRUE;
}

} // namespace

void BindNamespaceCalls(KernelApi& api) {
    api.MoveFileExW = FakeMoveFileExW;
    api.RemoveDirectoryW = FakeRemoveDirectoryW;
}

} // namespace kestrune::testing
