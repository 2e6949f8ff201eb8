// Streams through the backup walk: BackupRead's stream headers and BackupSeek.
#include "tests/fake/fake_volume_model.h"

#include <algorithm>
#include <cstring>

namespace kestrune::testing {
namespace {

BOOL WINAPI FakeBackupRead(HANDLE handle, LPBYTE buffer, DWORD bytes, LPDWORD read, BOOL abort, BOOL,
                           LPVOID* context) {
    Guard g;
    Impl* impl = g.impl;
    if (read) *read = 0;
    if (abort) {
        if (*context) {
            if (!impl->backups.erase(*context)) ++impl->badReleases;
            *context = nullptr;
        }
        return TRUE;
    }
    HandleObject* object = impl->Find(handle, HandleObject::File);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!object->file.Reads()) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!*context) {
        auto walk = std::make_unique<BackupContext>();
        Record* record = object->file.record;
        auto add = [&](DWORD id, const std::wstring& name, uint64_t size) {
            BackupStream stream;
            WIN32_STREAM_ID header{};
            header.dwStreamId = id;
            header.Size.QuadPart = static_cast<LONGLONG>(size);
            header.dwStreamNameSize = static_cast<DWORD>(name.size() * 2);
            stream.header.resize(20 + name.size() * 2);
            std::memcpy(stream.header.data(), &header, 20);
            std::memcpy(stream.header.data() + 20, name.data(), name.size() * 2);
            stream.dataSize = size;
            walk->streams.push_back(std::move(stream));
        };
        if (!record->isDir) add(BACKUP_DATA, L"", record->data.size());
        for (auto& s : record->streams) add(BACKUP_ALTERNATE_DATA, L":" + s.first + L":$DATA", s.second.size());
        for (auto& s : record->otherStreams) add(BACKUP_ALTERNATE_DATA, L":" + s.first + L":" + s.second, 0);
        if (!record->reparse.empty()) add(BACKUP_REPARSE_DATA, L"", record->reparse.size());
        void* key = walk.get();
        impl->backups.emplace(key, std::move(walk));
        *context = key;
    }
    auto it = impl->backups.find(*context);
    if (it == impl->backups.end()) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    BackupContext& walk = *it->second;
    if (walk.current >= walk.streams.size()) return TRUE;
    BackupStream& stream = walk.streams[walk.current];
    uint64_t total = stream.header.size() + stream.dataSize;
    DWORD count = static_cast<DWORD>(std::min<uint64_t>(bytes, total - walk.offset));
    for (DWORD i = 0; i < count; ++i) {
        uint64_t at = walk.offset + i;
        buffer[i] = at < stream.header.size() ? stream.header[at] : 0; // data content is not needed here
    }
    walk.offset += count;
    impl->stats.backupBytesRead += count;
    if (walk.offset == total) {
        ++walk.current;
        walk.offset = 0;
    }
    if (read) *read = count;
    return TRUE;
}

BOOL WINAPI FakeBackupSeek(HANDLE handle, DWORD low, DWORD high, LPDWORD lowSeeked, LPDWORD highSeeked,
                           LPVOID* context) {
    Guard g;
    if (lowSeeked) *lowSeeked = 0;
    if (highSeeked) *highSeeked = 0;
    if (!g.impl->Find(handle, HandleObject::File)) return Fail(ERROR_INVALID_HANDLE, FALSE);
    auto it = g.impl->backups.find(*context);
    if (!*context || it == g.impl->backups.end()) return Fail(ERROR_SEEK, FALSE);
    BackupContext& walk = *it->second;
    // Seeking moves only through the data of the stream in hand, never across a header; at the
    // start of a stream (its header not yet read, or the previous one used up) there is nothing to skip.
    if (walk.current >= walk.streams.size()) return Fail(ERROR_SEEK, FALSE);
    BackupStream& stream = walk.streams[walk.current];
    if (walk.offset < stream.header.size()) return Fail(ERROR_SEEK, FALSE);
    uint64_t wanted = (static_cast<uint64_t>(high) << 32) | low;
    uint64_t remaining = stream.header.size() + stream.dataSize - walk.offset;
    uint64_t moved = std::min(wanted, remaining);
    walk.offset += moved;
    if (walk.offset == stream.header.size() + stream.dataSize) {
        ++walk.current;
        walk.offset = 0;
    }
    if (lowSeeked) *lowSeeked = static_cast<DWORD>(moved);
    if (highSeeked) *highSeeked = static_cast<DWORD>(moved >> 32);
    return moved == wanted ? TRUE : Fail(ERROR_SEEK, FALSE);
}

} // namespace

void BindBackupCalls(KernelApi& api) {
    api.BackupRead = FakeBackupRead;
    api.BackupSeek = FakeBackupSeek;
}

} // namespace kestrune::testing
