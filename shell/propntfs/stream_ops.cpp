#include "shell/propntfs/stream_ops.h"

#include <cstddef>
#include <cwchar>

#include "ntfs/kernel.h"
#include "ntfs/scoped.h"

namespace kestrune {
namespace {

constexpr DWORD kOpenFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_NORMAL;

StreamOutcome OutcomeOf(CopyResult result) {
    switch (result) {
    case CopyResult::Copied: return StreamOutcome::Done;
    case CopyResult::ReadFailed: return StreamOutcome::ReadFailed;
    case CopyResult::WriteFailed: return StreamOutcome::WriteFailed;
    default: return StreamOutcome::Cancelled;
    }
}

StreamOutcome OpenFailure(StreamOutcome otherwise) {
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return StreamOutcome::InUse;
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return StreamOutcome::Exists;
    return otherwise;
}

StreamOutcome TargetFailure() {
    StreamOutcome outcome = OpenFailure(StreamOutcome::CreateFailed);
    return outcome == StreamOutcome::InUse ? StreamOutcome::TargetInUse : outcome;
}

// Marks an open file or stream for removal when its handle closes.
bool DeleteOnClose(HANDLE handle) {
    FILE_DISPOSITION_INFO info = {TRUE};
    return Kernel().SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info) != FALSE;
}

// What a volume answers when it cannot rename a stream in place (a redirector, a filter, or a
// system that reads ":name" as a path): only then is the stream copied.
bool RenameNotOffered(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME || error == ERROR_CALL_NOT_IMPLEMENTED;
}

// A new target made with the right to remove it, so a partial copy goes through this handle.
HANDLE CreateRemovable(const wchar_t* path, DWORD access, DWORD share = 0) {
    return Kernel().CreateFileW(path, access | DELETE, share, nullptr, CREATE_NEW, kOpenFlags, nullptr);
}

StreamOutcome CopyIntoCreated(HANDLE source, HANDLE target, CopyProgress* progress) {
    ScopedGlobal chunk(kCopyChunkBytes);
    if (!chunk.Valid()) return StreamOutcome::OutOfMemory;
    StreamOutcome outcome = OutcomeOf(CopyContent(source, target, chunk.As<void>(), progress));
    if (outcome != StreamOutcome::Done) DeleteOnClose(target); // a partial copy would pass for the whole
    return outcome;
}

// `source` from its start over `target` from its start, `target` then cut to `source`'s size: an
// existing file keeps its identity, links, streams and security.
StreamOutcome Overwrite(HANDLE source, HANDLE target, void* chunk, CopyProgress* progress) {
    LARGE_INTEGER start = {}, size = {};
    if (!Kernel().SetFilePointerEx(source, start, nullptr, FILE_BEGIN) || !Kernel().GetFileSizeEx(source, &size))
        return StreamOutcome::ReadFailed;
    if (!Kernel().SetFilePointerEx(target, start, nullptr, FILE_BEGIN)) return StreamOutcome::WriteFailed;
    StreamOutcome outcome = OutcomeOf(CopyContent(source, target, chunk, progress, false));
    FILE_END_OF_FILE_INFO end = {size};
    if (outcome == StreamOutcome::Done && !Kernel().SetFileInformationByHandle(target, FileEndOfFileInfo, &end, sizeof end))
        outcome = StreamOutcome::WriteFailed;
    return outcome;
}

} // namespace

HANDLE OpenToRead(const wchar_t* path) {
    return Kernel().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, kOpenFlags, nullptr);
}

StreamOutcome CopyIntoNew(HANDLE source, const wchar_t* target, CopyProgress* progress) {
    ScopedHandle written(CreateRemovable(target, GENERIC_WRITE));
    if (!written.Valid()) return OpenFailure(StreamOutcome::CreateFailed);
    return CopyIntoCreated(source, written.Get(), progress);
}

StreamOutcome SaveStreamTo(const wchar_t* streamPath, const wchar_t* file, const wchar_t* beside, const wchar_t* former,
                           CopyProgress* progress) {
    ScopedHandle stream(OpenToRead(streamPath));
    if (!stream.Valid()) return OpenFailure(StreamOutcome::ReadFailed);
    // The chosen file is opened first, so a file in use or a folder is told before anything is copied.
    ScopedHandle target(Kernel().CreateFileW(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target.Valid() && GetLastError() != ERROR_FILE_NOT_FOUND) return TargetFailure();
    ScopedHandle whole(CreateRemovable(beside, GENERIC_READ | GENERIC_WRITE));
    if (!whole.Valid()) return StreamOutcome::CreateFailed;
    StreamOutcome outcome = CopyIntoCreated(stream.Get(), whole.Get(), progress);
    if (outcome != StreamOutcome::Done) return outcome;
    stream.Reset();
    // From here the content is whole on disk beside the target; the rest is not cancelled.
    ScopedGlobal chunk(kCopyChunkBytes);
    if (!chunk.Valid()) {
        DeleteOnClose(whole.Get());
        return StreamOutcome::OutOfMemory;
    }
    if (!target.Valid()) {
        target.Reset(CreateRemovable(file, GENERIC_WRITE));
        outcome = target.Valid() ? Overwrite(whole.Get(), target.Get(), chunk.As<void>(), progress) : TargetFailure();
        if (outcome != StreamOutcome::Done && target.Valid()) DeleteOnClose(target.Get());
        DeleteOnClose(whole.Get());
        return outcome;
    }
    // The old content is kept beside too, so that a write that fails part way (a full disk) is undone.
    ScopedHandle kept(CreateRemovable(former, GENERIC_READ | GENERIC_WRITE));
    if (!kept.Valid() || Overwrite(target.Get(), kept.Get(), chunk.As<void>(), nullptr) != StreamOutcome::Done) {
        if (kept.Valid()) DeleteOnClose(kept.Get());
        DeleteOnClose(whole.Get());
        return StreamOutcome::WriteFailed; // the target was only read
    }
    outcome = Overwrite(whole.Get(), target.Get(), chunk.As<void>(), progress);
    DeleteOnClose(whole.Get());
    // Put back as it was; where even that fails, its former content stays in `former`.
    if (outcome != StreamOutcome::Done && Overwrite(kept.Get(), target.Get(), chunk.As<void>(), nullptr) != StreamOutcome::Done)
        return StreamOutcome::FormerContentKept;
    DeleteOnClose(kept.Get());
    return outcome;
}

StreamOutcome RenameStreamTo(const wchar_t* oldPath, const wchar_t* newPath, const wchar_t* newName,
                             CopyProgress* progress) {
    // Opened for deletion first: a stream the user may write but not delete is refused here.
    ScopedHandle old(Kernel().CreateFileW(oldPath, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, kOpenFlags, nullptr)); // shares as the copy's opens below
    if (!old.Valid()) return OpenFailure(StreamOutcome::OpenFailed);
    size_t chars = wcslen(newName) + 1; // ":" and the name
    alignas(FILE_RENAME_INFO) BYTE block[sizeof(FILE_RENAME_INFO) + (MAX_PATH + 1) * sizeof(wchar_t)] = {};
    if (chars > MAX_PATH) return StreamOutcome::CreateFailed;
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(block);
    rename->ReplaceIfExists = FALSE;
    rename->FileNameLength = static_cast<DWORD>(chars * sizeof(wchar_t));
    rename->FileName[0] = L':';
    wmemcpy(rename->FileName + 1, newName, chars - 1);
    DWORD bytes = static_cast<DWORD>(offsetof(FILE_RENAME_INFO, FileName) + (chars + 1) * sizeof(wchar_t));
    if (Kernel().SetFileInformationByHandle(old.Get(), FileRenameInfo, rename, bytes)) return StreamOutcome::Done;
    DWORD error = GetLastError();
    if (!RenameNotOffered(error)) return OpenFailure(StreamOutcome::OpenFailed);
    // Both streams of one file are open together, so each open shares what the others ask: Windows
    // checks sharing per stream, but a system that checks it per file (Wine) would refuse the copy.
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    ScopedHandle source(Kernel().CreateFileW(oldPath, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, kOpenFlags, nullptr));
    if (!source.Valid()) return OpenFailure(StreamOutcome::ReadFailed);
    ScopedHandle copy(CreateRemovable(newPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE));
    if (!copy.Valid()) return OpenFailure(StreamOutcome::CreateFailed);
    StreamOutcome outcome = CopyIntoCreated(source.Get(), copy.Get(), progress);
    if (outcome != StreamOutcome::Done) return outcome;
    if (DeleteOnClose(old.Get())) return StreamOutcome::Done;
    DeleteOnClose(copy.Get());
    return StreamOutcome::NotRemoved;
}

} // namespace kestrune
