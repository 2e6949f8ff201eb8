// Names that move or go: MoveFileExW within a volume and RemoveDirectoryW, which takes a folder
// link (junction or symbolic link) away without touching what it leads to.
#include "tests/fake/fake_volume_model.h"

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

} // namespace

void BindNamespaceCalls(KernelApi& api) {
    api.MoveFileExW = FakeMoveFileExW;
    api.RemoveDirectoryW = FakeRemoveDirectoryW;
}

} // namespace kestrune::testing
