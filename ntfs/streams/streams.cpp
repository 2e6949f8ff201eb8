#include "ntfs/streams/streams.h"

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/scoped.h"
#include "ntfs/volumes/volumes.h"

#include <cstring>
#include <cwchar>

namespace kestrune {
namespace {

constexpr DWORD kHeaderBytes = 20;           // WIN32_STREAM_ID up to its name
constexpr DWORD kNameChars = kStreamNameChars + 7; // ":name:$DATA" and its terminator

struct StreamHeader {
    DWORD streamId;
    DWORD attributes;
    DWORD sizeLow;
    DWORD sizeHigh;
    DWORD nameBytes;
    DWORD padding;
};
static_assert(sizeof(StreamHeader) == 24, "header buffer");

// ":name:$DATA" becomes "name"; a rest without a colon stays whole. False for a stream of another
// type (":name:$LOGGED_UTILITY_STREAM"), which holds no content the user can open.
bool Bare(wchar_t* name) {
    size_t length = wcslen(name);
    size_t start = length > 0 && name[0] == L':' ? 1 : 0;
    memmove(name, name + start, (length - start + 1) * sizeof(wchar_t));
    wchar_t* colon = wcschr(name, L':');
    if (!colon) return true;
    *colon = L'\0';
    return CompareStringOrdinal(colon + 1, -1, L"$DATA", -1, TRUE) == CSTR_EQUAL;
}

// One backup walk over an item's streams; the context is released and the handle closed
// however the walk ends. Opened with every sharing, so that a file another program writes
// (an open document, a log) still lists its streams.
class StreamWalk {
public:
    StreamWalk() = default;
    void Open(const wchar_t* path) {
        item_.Reset(Kernel().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_NORMAL,
                                         nullptr));
    }
    ~StreamWalk() {
        if (context_) {
            DWORD read = 0;
            Kernel().BackupRead(item_.Get(), nullptr, 0, &read, TRUE, FALSE, &context_);
        }
    }
    StreamWalk(const StreamWalk&) = delete;
    StreamWalk& operator=(const StreamWalk&) = delete;

    bool Opened() const { return item_.Valid(); }

    // Next named stream's bare name into `name` (kNameChars); false when the walk ends.
    bool NextNamed(wchar_t* name) {
        while (!ended_) {
            StreamHeader header = {};
            if (!Read(&header, kHeaderBytes)) return false;
            bool named = header.nameBytes != 0 && header.streamId != 0;
            bool fits = header.nameBytes % 2 == 0 && header.nameBytes < kNameChars * sizeof(wchar_t);
            bool listed = false;
            if (header.nameBytes != 0) {
                wmemset(name, 0, kNameChars);
                if (fits) {
                    if (!Read(name, header.nameBytes)) return false;
                    listed = named;
                } else if (!SkipName(header.nameBytes)) {
                    return false; // a name too long for the buffer is read through, not listed
                }
            }
            // A stream without data has nothing to skip, and seeking past its end would fail.
            if ((header.sizeLow | header.sizeHigh) != 0) {
                DWORD low = 0, high = 0;
                if (!Kernel().BackupSeek(item_.Get(), header.sizeLow, header.sizeHigh, &low, &high, &context_)) {
                    ended_ = true; // the walk's place is lost: what was read so far stands
                    return listed && Bare(name);
                }
            }
            if (listed && Bare(name)) return true;
        }
        return false;
    }

private:
    bool Read(void* into, DWORD bytes) {
        DWORD read = 0;
        return Kernel().BackupRead(item_.Get(), static_cast<BYTE*>(into), bytes, &read, FALSE, FALSE, &context_) &&
               read == bytes;
    }

    bool SkipName(DWORD bytes) {
        BYTE scratch[512];
        while (bytes > 0) {
            DWORD chunk = bytes < sizeof scratch ? bytes : static_cast<DWORD>(sizeof scratch);
            if (!Read(scratch, chunk)) return false;
            bytes -= chunk;
        }
        return true;
    }

    ScopedHandle item_;
    void* context_ = nullptr;
    bool ended_ = false;
};

// The names through FindFirstStreamW, which reads no stream data and needs no access to the
// content, so no other program's open stands in its way; where the system lacks it or the file
// system refuses it, the backup walk.
class StreamNames {
public:
    explicit StreamNames(const wchar_t* path) {
        const KernelApi& kernel = Kernel();
        if (kernel.FindFirstStreamW) {
            search_.Reset(kernel.FindFirstStreamW(path, FindStreamInfoStandard, &found_, 0));
            if (search_.Valid() || GetLastError() == ERROR_HANDLE_EOF) {
                pending_ = search_.Valid();
                return;
            }
        }
        walking_ = true;
        walk_.Open(path);
    }
    StreamNames(const StreamNames&) = delete;
    StreamNames& operator=(const StreamNames&) = delete;

    bool Opened() const { return !walking_ || walk_.Opened(); }

    // Next named stream's bare name into `name` (kNameChars); false when the names end.
    bool Next(wchar_t* name) {
        if (walking_) return walk_.Opened() && walk_.NextNamed(name);
        while (pending_) {
            wcsncpy(name, found_.cStreamName, kNameChars - 1);
            name[kNameChars - 1] = L'\0';
            bool fits = wcsnlen(found_.cStreamName, kNameChars) < kNameChars;
            pending_ = Kernel().FindNextStreamW(search_.Get(), &found_) != FALSE;
            if (fits && Bare(name) && name[0] != L'\0') return true; // "::$DATA" is the unnamed stream
        }
        return false;
    }

private:
    WIN32_FIND_STREAM_DATA found_ = {};
    ScopedFind search_;
    bool pending_ = false;
    bool walking_ = false;
    StreamWalk walk_;
};

// A path past MAX_PATH is taken whole in its "\\?\" form, as the system opens it.
bool Fits(const wchar_t* path) { return path && wcsnlen(path, kLongestPathChars) < kLongestPathChars; }

// Runs `append(name)` for each named stream; the names appended, or -3 / -1 as ListNamedStreams.
template <typename Append> int ListNames(const wchar_t* path, wchar_t* buffer, size_t bufferChars, Append append) {
    if (!Fits(path) || !buffer || bufferChars == 0) return -1;
    if (!IsNTFSVolume(path)) return -3;
    StreamNames names(path);
    if (!names.Opened()) return -1;
    buffer[0] = L'\0';
    size_t used = 0;
    int count = 0;
    wchar_t name[kNameChars];
    // A stream added since the caller counted finds no room and is left out.
    while (names.Next(name))
        if (append(used, name)) ++count;
    return count;
}

} // namespace

int CountNamedStreams(const wchar_t* path) {
    if (!Fits(path)) return -1;
    StreamNames names(path);
    if (!names.Opened()) return -1;
    wchar_t name[kNameChars];
    int count = 0;
    while (names.Next(name)) ++count;
    return count;
}

int ListNamedStreams(const wchar_t* path, wchar_t* buffer, size_t bufferChars) {
    return ListNames(path, buffer, bufferChars,
                     [&](size_t& used, const wchar_t* name) { return AppendTextLine(buffer, bufferChars, used, name); });
}

int ListStreamNames(const wchar_t* path, wchar_t* buffer, size_t bufferChars) {
    return ListNames(path, buffer, bufferChars, [&](size_t& used, const wchar_t* name) {
        size_t length = wcslen(name);
        if (used + length + 2 > bufferChars) return false; // its zero and the list's
        wmemcpy(buffer + used, name, length + 1);
        used += length + 1;
        buffer[used] = L'\0';
        return true;
    });
}

} // namespace kestrune
