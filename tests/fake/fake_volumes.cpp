#include "tests/fake/fake_volumes.h"

#include "ntfs/kernel_override.h"
#include "ntfs/reparse_record.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <stdexcept>
#include <thread>

namespace kestrune::testing {
namespace {

constexpr uintptr_t kFirstHandle = 0x7f000000;
constexpr int kMaxReparseHops = 31;

std::wstring Upper(const std::wstring& s) {
    std::wstring u = s;
    for (auto& c : u) c = static_cast<wchar_t>(towupper(c));
    return u;
}

bool SameName(const std::wstring& a, const std::wstring& b) { return Upper(a) == Upper(b); }

bool HasWildcards(const std::wstring& s) { return s.find_first_of(L"*?") != std::wstring::npos; }

bool WildcardMatch(const wchar_t* pattern, const wchar_t* name) {
    if (*pattern == 0) return *name == 0;
    if (*pattern == L'*') {
        for (const wchar_t* n = name;; ++n) {
            if (WildcardMatch(pattern + 1, n)) return true;
            if (*n == 0) return false;
        }
    }
    if (*name == 0) return false;
    if (*pattern == L'?' || towupper(*pattern) == towupper(*name)) return WildcardMatch(pattern + 1, name + 1);
    return false;
}

bool MatchesPattern(const std::wstring& pattern, const std::wstring& name) {
    if (pattern == L"*.*" || pattern == L"*") return true;
    return WildcardMatch(pattern.c_str(), name.c_str());
}

std::vector<std::wstring> SplitComponents(const std::wstring& rest) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos) end = rest.size();
        if (end > start) parts.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

} // namespace

struct Volume;

struct Record {
    uint64_t index = 0;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    bool isDir = false;
    bool denied = false;
    bool reparseUnreadable = false;
    int links = 0;
    std::vector<uint8_t> data;
    std::vector<std::pair<std::wstring, std::vector<uint8_t>>> streams;
    std::vector<uint8_t> reparse;
    std::vector<std::pair<std::wstring, Record*>> children; // in creation order, as a search returns them
    std::map<std::wstring, Record*> byUpperName;
    Volume* volume = nullptr;

    void AddChild(const std::wstring& name, Record* child) {
        children.emplace_back(name, child);
        byUpperName[Upper(name)] = child;
    }
    Record* RemoveChild(const std::wstring& name) {
        auto found = byUpperName.find(Upper(name));
        if (found == byUpperName.end()) return nullptr;
        Record* child = found->second;
        byUpperName.erase(found);
        for (auto it = children.begin(); it != children.end(); ++it) {
            if (SameName(it->first, name)) {
                children.erase(it);
                break;
            }
        }
        return child;
    }
};

struct Volume {
    wchar_t letter = 0;
    std::wstring guidPath; // \\?\Volume{...}\ .
    std::wstring uncRoot;  // shares only
    VolumeOptions options;
    Record* root = nullptr;
    uint64_t nextIndex = 0;
    std::vector<std::unique_ptr<Record>> records;
    bool IsNtfs() const { return options.fileSystem == L"NTFS"; }
};

struct Located {
    Volume* volume = nullptr;
    Record* parent = nullptr;
    Record* record = nullptr;
    std::wstring name;
    std::wstring stream; // empty: the unnamed data stream
};

struct OpenFile {
    Record* record = nullptr;
    std::wstring stream;
    DWORD access = 0;
    DWORD share = 0;
    uint64_t position = 0;
    bool Reads() const { return access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA); }
    bool Writes() const { return access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA); }
    bool Deletes() const { return access & (DELETE | GENERIC_ALL); }
};

struct FakeEvent {
    bool manual = true;
    bool signalled = false;
    int resetAfter = -1;
    int polls = 0;
};

struct HandleObject {
    enum Kind { File, Search, Event } kind = File;
    OpenFile file;
    std::vector<WIN32_FIND_DATAW> entries;
    size_t nextEntry = 0;
    FakeEvent event;
};

struct BackupStream {
    std::vector<uint8_t> header; // the 20-byte header and the name
    uint64_t dataSize = 0;
};

struct BackupContext {
    std::vector<BackupStream> streams;
    size_t current = 0;
    uint64_t offset = 0; // within header + data of the current stream
};

struct FakeVolumeSet::Impl {
    std::recursive_mutex mutex;
    std::vector<std::unique_ptr<Volume>> volumes;
    std::wstring currentDirectory = L"C:\\";
    std::map<uintptr_t, HandleObject> handles;
    uintptr_t nextHandle = kFirstHandle;
    std::map<void*, SIZE_T> blocks;
    std::map<void*, std::unique_ptr<BackupContext>> backups;
    int badReleases = 0;
    int criticalDialogs = 0;
    UINT errorMode = 0;
    long long failAt = 0;
    bool failureHappened = false;
    int volumeCounter = 0;
    FakeStats stats;
    KernelApi api{};

    // ---- paths -------------------------------------------------------------------------------

    bool Canonical(std::wstring s, std::wstring& out, int depth = 0) {
        if (s.empty() || depth > 2) return false;
        std::replace(s.begin(), s.end(), L'/', L'\\');
        if (s.rfind(L"\\\\?\\", 0) == 0) {
            out = s;
            return true;
        }
        std::wstring prefix, rest;
        if (s.rfind(L"\\\\", 0) == 0) {
            size_t server = s.find(L'\\', 2);
            if (server == std::wstring::npos) {
                out = s;
                return true;
            }
            size_t share = s.find(L'\\', server + 1);
            if (share == std::wstring::npos) share = s.size();
            prefix = s.substr(0, share);
            rest = s.substr(share);
        } else if (s.size() >= 2 && s[1] == L':') {
            wchar_t letter = static_cast<wchar_t>(towupper(s[0]));
            if (s.size() >= 3 && s[2] == L'\\') {
                prefix = std::wstring(1, letter) + L":";
                rest = s.substr(2);
            } else if (towupper(currentDirectory[0]) == letter && currentDirectory[1] == L':') {
                return Canonical(currentDirectory + L"\\" + s.substr(2), out, depth + 1);
            } else {
                prefix = std::wstring(1, letter) + L":";
                rest = L"\\" + s.substr(2);
            }
        } else if (s[0] == L'\\') {
            prefix = RootPrefix(currentDirectory);
            rest = s;
        } else {
            return Canonical(currentDirectory + L"\\" + s, out, depth + 1);
        }
        bool trailing = !rest.empty() && rest.back() == L'\\';
        std::vector<std::wstring> parts;
        for (auto& part : SplitComponents(rest)) {
            if (part == L".") continue;
            if (part == L"..") {
                if (!parts.empty()) parts.pop_back();
                continue;
            }
            parts.push_back(part);
        }
        out = prefix;
        if (prefix.size() == 2 || !parts.empty() || trailing) out += L"\\";
        for (size_t i = 0; i < parts.size(); ++i) {
            out += parts[i];
            if (i + 1 < parts.size() || trailing) out += L"\\";
        }
        return true;
    }

    static std::wstring RootPrefix(const std::wstring& full) {
        if (full.rfind(L"\\\\", 0) == 0) {
            size_t server = full.find(L'\\', 2);
            size_t share = server == std::wstring::npos ? std::wstring::npos : full.find(L'\\', server + 1);
            return full.substr(0, share);
        }
        return full.substr(0, 2);
    }

    Volume* VolumeByLetter(wchar_t letter) {
        for (auto& v : volumes)
            if (v->letter && towupper(v->letter) == towupper(letter)) return v.get();
        return nullptr;
    }

    Volume* VolumeByGuidPath(const std::wstring& path) {
        for (auto& v : volumes)
            if (!v->guidPath.empty() && SameName(v->guidPath, path)) return v.get();
        return nullptr;
    }

    bool NotReady(Volume* v) {
        if (v->options.ready) return false;
        if (!(errorMode & SEM_FAILCRITICALERRORS)) ++criticalDialogs;
        return true;
    }

    Record* Child(Record* dir, const std::wstring& name) {
        auto found = dir->byUpperName.find(Upper(name));
        return found == dir->byUpperName.end() ? nullptr : found->second;
    }

    // The folder a mount-point record leads to.
    Record* FollowReparse(Record* record, int hops, DWORD& error) {
        if (hops > kMaxReparseHops) {
            error = ERROR_CANT_RESOLVE_FILENAME;
            return nullptr;
        }
        const auto* header = reinterpret_cast<const MountPointRecord*>(record->reparse.data());
        if (record->reparse.size() < 20 || header->reparseTag != kMountPointTag) {
            error = ERROR_CANT_ACCESS_FILE;
            return nullptr;
        }
        std::wstring substitute(reinterpret_cast<const wchar_t*>(record->reparse.data() + 16 +
                                                                  header->substituteNameOffset),
                                header->substituteNameLength / 2);
        if (substitute.rfind(L"\\??\\", 0) != 0) {
            error = ERROR_PATH_NOT_FOUND;
            return nullptr;
        }
        std::wstring target = substitute.substr(4);
        if (target.rfind(L"Volume{", 0) == 0) {
            Volume* v = VolumeByGuidPath(L"\\\\?\\" + target);
            if (!v) {
                error = ERROR_PATH_NOT_FOUND;
                return nullptr;
            }
            if (NotReady(v)) {
                error = ERROR_NOT_READY;
                return nullptr;
            }
            return v->root;
        }
        Located at;
        if (!Locate(target, true, at, error, hops + 1)) return nullptr;
        if (!at.record || !at.record->isDir) {
            error = ERROR_PATH_NOT_FOUND;
            return nullptr;
        }
        return at.record;
    }

    // Finds what a full path names. A missing last component leaves record null.
    bool Locate(const std::wstring& full, bool followFinal, Located& at, DWORD& error, int hops = 0) {
        Volume* volume = nullptr;
        std::wstring rest;
        if (full.rfind(L"\\\\?\\Volume{", 0) == 0) {
            size_t close = full.find(L"}\\");
            if (close == std::wstring::npos) {
                error = ERROR_INVALID_NAME;
                return false;
            }
            volume = VolumeByGuidPath(full.substr(0, close + 2));
            rest = full.substr(close + 2);
        } else if (full.rfind(L"\\\\", 0) == 0) {
            for (auto& v : volumes) {
                if (v->uncRoot.empty()) continue;
                const std::wstring& r = v->uncRoot;
                if (full.size() >= r.size() && SameName(full.substr(0, r.size()), r) &&
                    (full.size() == r.size() || full[r.size()] == L'\\')) {
                    volume = v.get();
                    rest = full.substr(r.size());
                }
            }
            if (!volume) {
                error = ERROR_BAD_NETPATH;
                return false;
            }
        } else if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
            volume = VolumeByLetter(full[0]);
            rest = full.substr(3);
        }
        if (!volume) {
            error = ERROR_PATH_NOT_FOUND;
            return false;
        }
        if (NotReady(volume)) {
            error = ERROR_NOT_READY;
            return false;
        }
        std::vector<std::wstring> parts = SplitComponents(rest);
        at = Located{};
        at.volume = volume;
        Record* current = volume->root;
        if (parts.empty()) {
            at.record = current;
            return true;
        }
        for (size_t i = 0; i < parts.size(); ++i) {
            bool last = i + 1 == parts.size();
            std::wstring name = parts[i];
            if (last) {
                size_t colon = name.find(L':');
                if (colon != std::wstring::npos) {
                    std::wstring stream = name.substr(colon + 1);
                    name = name.substr(0, colon);
                    size_t type = stream.find(L':');
                    if (type != std::wstring::npos) {
                        if (!SameName(stream.substr(type + 1), L"$DATA")) {
                            error = ERROR_INVALID_NAME;
                            return false;
                        }
                        stream = stream.substr(0, type);
                    }
                    if (name.empty() || stream.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos) {
                        error = ERROR_INVALID_NAME;
                        return false;
                    }
                    at.stream = stream;
                }
            } else if (name.find(L':') != std::wstring::npos) {
                error = ERROR_INVALID_NAME;
                return false;
            }
            if (name.find_first_of(L"*?\"<>|") != std::wstring::npos) {
                error = ERROR_INVALID_NAME;
                return false;
            }
            if (!current->isDir) {
                error = ERROR_PATH_NOT_FOUND;
                return false;
            }
            if (current->denied) {
                error = ERROR_ACCESS_DENIED;
                return false;
            }
            Record* child = Child(current, name);
            if (!child) {
                if (!last) {
                    error = ERROR_PATH_NOT_FOUND;
                    return false;
                }
                at.parent = current;
                at.name = name;
                at.volume = current->volume;
                return true;
            }
            if (!child->reparse.empty() && (!last || followFinal)) {
                Record* target = FollowReparse(child, hops, error);
                if (!target) return false;
                if (last) {
                    at.parent = current;
                    at.name = name;
                    at.record = target;
                    at.volume = target->volume;
                    return true;
                }
                current = target;
                continue;
            }
            if (last) {
                at.parent = current;
                at.name = name;
                at.record = child;
                at.volume = child->volume;
                return true;
            }
            current = child;
        }
        return true;
    }

    bool LocatePath(const wchar_t* path, bool followFinal, Located& at, DWORD& error) {
        std::wstring full;
        if (!path || !Canonical(path, full)) {
            error = path && *path ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND;
            return false;
        }
        return Locate(full, followFinal, at, error);
    }

    Located MustLocate(const std::wstring& path, bool followFinal = true) {
        Located at;
        DWORD error = 0;
        if (!LocatePath(path.c_str(), followFinal, at, error))
            throw std::runtime_error("fake volumes: bad path in test set-up");
        return at;
    }

    Record* MustFind(const std::wstring& path, bool followFinal = false) {
        Located at = MustLocate(path, followFinal);
        if (!at.record) throw std::runtime_error("fake volumes: no such entry in test set-up");
        return at.record;
    }

    Record* NewRecord(Volume* volume, bool isDir) {
        auto record = std::make_unique<Record>();
        record->index = volume->nextIndex++;
        record->isDir = isDir;
        record->attributes = isDir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        record->volume = volume;
        volume->records.push_back(std::move(record));
        return volume->records.back().get();
    }

    Record* AddEntry(Located& at, bool isDir) {
        Record* record = NewRecord(at.parent->volume, isDir);
        record->links = 1;
        at.parent->AddChild(at.name, record);
        return record;
    }

    std::vector<uint8_t>* StreamData(Record* record, const std::wstring& stream, bool create) {
        if (stream.empty()) return &record->data;
        for (auto& s : record->streams)
            if (SameName(s.first, stream)) return &s.second;
        if (!create) return nullptr;
        record->streams.emplace_back(stream, std::vector<uint8_t>());
        return &record->streams.back().second;
    }

    bool HasOpenWithoutShare(Record* record, DWORD share) {
        for (auto& h : handles)
            if (h.second.kind == HandleObject::File && h.second.file.record == record &&
                (h.second.file.share & share) != share && h.second.file.access != 0)
                return true;
        return false;
    }

    HANDLE NewHandle(HandleObject object) {
        uintptr_t value = nextHandle;
        nextHandle += 4;
        handles.emplace(value, std::move(object));
        return reinterpret_cast<HANDLE>(value);
    }

    HandleObject* Find(HANDLE handle, HandleObject::Kind kind) {
        auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
        if (it == handles.end() || it->second.kind != kind) return nullptr;
        return &it->second;
    }

    static WIN32_FIND_DATAW FindDataOf(const std::wstring& name, Record* record) {
        WIN32_FIND_DATAW data{};
        data.dwFileAttributes = record->attributes;
        data.nFileSizeLow = static_cast<DWORD>(record->data.size());
        data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(record->data.size()) >> 32);
        if (!record->reparse.empty())
            data.dwReserved0 = *reinterpret_cast<const DWORD*>(record->reparse.data());
        wcsncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
        return data;
    }

    static std::vector<uint8_t> MountPointBytes(const std::wstring& substitute) {
        std::vector<uint8_t> bytes(16 + (substitute.size() + 2) * 2, 0);
        auto* record = reinterpret_cast<MountPointRecord*>(bytes.data());
        record->reparseTag = kMountPointTag;
        record->reparseDataLength = static_cast<uint16_t>(bytes.size() - 8);
        record->substituteNameLength = static_cast<uint16_t>(substitute.size() * 2);
        record->printNameOffset = static_cast<uint16_t>(substitute.size() * 2 + 2);
        std::memcpy(bytes.data() + 16, substitute.c_str(), substitute.size() * 2);
        return bytes;
    }

    static FakeVolumeSet::Impl* Self();
};

namespace {
FakeVolumeSet* activeSet = nullptr;
}

FakeVolumeSet::Impl* FakeVolumeSet::Impl::Self() { return activeSet->impl_.get(); }

// ---- the kernel table -------------------------------------------------------------------------

namespace {

using Impl = FakeVolumeSet::Impl;

struct Guard {
    Impl* impl;
    std::lock_guard<std::recursive_mutex> lock;
    Guard() : impl(Impl::Self()), lock(impl->mutex) {}
};

template <typename T> T Fail(DWORD error, T value) {
    SetLastError(error);
    return value;
}

DWORD WINAPI FakeGetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR buffer, LPWSTR* filePart) {
    Guard g;
    std::wstring full;
    if (!path || !g.impl->Canonical(path, full)) return Fail<DWORD>(ERROR_INVALID_NAME, 0);
    if (size <= full.size()) return static_cast<DWORD>(full.size() + 1);
    wcscpy(buffer, full.c_str());
    if (filePart) {
        size_t slash = full.find_last_of(L'\\');
        *filePart = (slash == std::wstring::npos || slash + 1 == full.size()) ? nullptr : buffer + slash + 1;
    }
    return static_cast<DWORD>(full.size());
}

DWORD WINAPI FakeGetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    Guard g;
    const std::wstring& cwd = g.impl->currentDirectory;
    if (size <= cwd.size()) return static_cast<DWORD>(cwd.size() + 1);
    wcscpy(buffer, cwd.c_str());
    return static_cast<DWORD>(cwd.size());
}

BOOL WINAPI FakeSetCurrentDirectoryW(LPCWSTR path) {
    Guard g;
    std::wstring full;
    Located at;
    DWORD error = 0;
    if (!path || !g.impl->Canonical(path, full)) return Fail(ERROR_INVALID_NAME, FALSE);
    if (!g.impl->Locate(full, true, at, error)) return Fail(error, FALSE);
    if (!at.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (!at.record->isDir) return Fail(ERROR_DIRECTORY, FALSE);
    if (full.size() > 3 && full.back() == L'\\') full.pop_back();
    g.impl->currentDirectory = full;
    return TRUE;
}

DWORD WINAPI FakeGetFileAttributesW(LPCWSTR path) {
    Guard g;
    Located at;
    DWORD error = 0;
    if (path && HasWildcards(path)) return Fail<DWORD>(ERROR_INVALID_NAME, INVALID_FILE_ATTRIBUTES);
    if (!g.impl->LocatePath(path, false, at, error)) return Fail<DWORD>(error, INVALID_FILE_ATTRIBUTES);
    if (!at.record) return Fail<DWORD>(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    if (!at.stream.empty() && !g.impl->StreamData(at.record, at.stream, false))
        return Fail<DWORD>(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    return at.record->attributes;
}

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

HANDLE WINAPI FakeCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                              DWORD flags, HANDLE) {
    Guard g;
    Impl* impl = g.impl;
    ++impl->stats.fileOpens;
    Located at;
    DWORD error = 0;
    if (path && HasWildcards(path)) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    if (!impl->LocatePath(path, !(flags & FILE_FLAG_OPEN_REPARSE_POINT), at, error))
        return Fail(error, INVALID_HANDLE_VALUE);
    OpenFile open;
    open.access = access;
    open.share = share;
    open.stream = at.stream;
    bool existed = at.record != nullptr;
    if (!existed) {
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        if (!at.parent || at.parent->denied) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        if (!at.stream.empty() && !at.volume->IsNtfs()) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    } else {
        Record* record = at.record;
        if (record->denied) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        if (record->isDir && at.stream.empty() && !(flags & FILE_FLAG_BACKUP_SEMANTICS))
            return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        bool streamExists = impl->StreamData(record, at.stream, false) != nullptr;
        if (!at.stream.empty() && !at.volume->IsNtfs()) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
        if (streamExists && disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
        if (!streamExists && (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING))
            return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        if ((record->attributes & FILE_ATTRIBUTE_READONLY) && open.Writes() && !record->isDir)
            return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        // An open that touches no data (query only) is never refused for sharing.
        bool touchesData = open.Reads() || open.Writes() || open.Deletes();
        for (auto& h : impl->handles) {
            if (!touchesData || h.second.kind != HandleObject::File) continue;
            const OpenFile& other = h.second.file;
            if (other.record != record || !SameName(other.stream, at.stream)) continue;
            bool conflict = (open.Reads() && !(other.share & FILE_SHARE_READ)) ||
                            (open.Writes() && !(other.share & FILE_SHARE_WRITE)) ||
                            (open.Deletes() && !(other.share & FILE_SHARE_DELETE)) ||
                            (other.Reads() && !(share & FILE_SHARE_READ)) ||
                            (other.Writes() && !(share & FILE_SHARE_WRITE)) ||
                            (other.Deletes() && !(share & FILE_SHARE_DELETE));
            if (conflict) return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
        }
    }
    Record* record = existed ? at.record : impl->AddEntry(at, false);
    std::vector<uint8_t>* data = impl->StreamData(record, at.stream, true);
    if (existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)) data->clear();
    open.record = record;
    HandleObject object;
    object.kind = HandleObject::File;
    object.file = open;
    HANDLE handle = impl->NewHandle(std::move(object));
    SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                         : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
    {
        Guard g;
        auto it = g.impl->handles.find(reinterpret_cast<uintptr_t>(handle));
        if (it != g.impl->handles.end()) {
            if (it->second.kind == HandleObject::Search) {
                ++g.impl->badReleases;
                return Fail(ERROR_INVALID_HANDLE, FALSE);
            }
            g.impl->handles.erase(it);
            return TRUE;
        }
    }
    // Threads and other real objects the caller made itself.
    BOOL closed = ::CloseHandle(handle);
    if (!closed) {
        Guard g;
        ++g.impl->badReleases;
    }
    return closed;
}

BOOL WINAPI FakeGetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    Record* record = object->file.record;
    *info = BY_HANDLE_FILE_INFORMATION{};
    info->dwFileAttributes = record->attributes;
    info->dwVolumeSerialNumber = record->volume->options.serial;
    info->nFileSizeLow = static_cast<DWORD>(record->data.size());
    info->nNumberOfLinks = static_cast<DWORD>(record->links);
    info->nFileIndexHigh = static_cast<DWORD>(record->index >> 32);
    info->nFileIndexLow = static_cast<DWORD>(record->index);
    return TRUE;
}

BOOL WINAPI FakeCreateHardLinkW(LPCWSTR newName, LPCWSTR existing, LPSECURITY_ATTRIBUTES) {
    Guard g;
    Located source, target;
    DWORD error = 0;
    if (!g.impl->LocatePath(existing, true, source, error)) return Fail(error, FALSE);
    if (!source.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (!g.impl->LocatePath(newName, false, target, error)) return Fail(error, FALSE);
    if (!source.stream.empty() || !target.stream.empty()) return Fail(ERROR_INVALID_NAME, FALSE);
    if (source.record->isDir) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (target.record) return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if (!target.parent) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
    if (target.parent->volume != source.record->volume) return Fail(ERROR_NOT_SAME_DEVICE, FALSE);
    if (!source.record->volume->IsNtfs()) return Fail(ERROR_INVALID_FUNCTION, FALSE);
    if (source.record->links >= 1024) return Fail(ERROR_TOO_MANY_LINKS, FALSE);
    target.parent->AddChild(target.name, source.record);
    ++source.record->links;
    return TRUE;
}

BOOL WINAPI FakeDeleteFileW(LPCWSTR path) {
    Guard g;
    Located at;
    DWORD error = 0;
    if (!g.impl->LocatePath(path, false, at, error)) return Fail(error, FALSE);
    if (!at.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    Record* record = at.record;
    if (!at.stream.empty()) {
        auto& streams = record->streams;
        for (auto it = streams.begin(); it != streams.end(); ++it) {
            if (!SameName(it->first, at.stream)) continue;
            for (auto& h : g.impl->handles)
                if (h.second.kind == HandleObject::File && h.second.file.record == record &&
                    SameName(h.second.file.stream, at.stream) && !(h.second.file.share & FILE_SHARE_DELETE))
                    return Fail(ERROR_SHARING_VIOLATION, FALSE);
            streams.erase(it);
            return TRUE;
        }
        return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    }
    if (record->isDir || (record->attributes & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (g.impl->HasOpenWithoutShare(record, FILE_SHARE_DELETE)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
    at.parent->RemoveChild(at.name);
    --record->links;
    return TRUE;
}

BOOL WINAPI FakeReadFile(HANDLE handle, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (read) *read = 0;
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    OpenFile& file = object->file;
    if (!file.Reads()) return Fail(ERROR_ACCESS_DENIED, FALSE);
    std::vector<uint8_t>* data = g.impl->StreamData(file.record, file.stream, false);
    if (!data || (file.record->isDir && file.stream.empty())) return Fail(ERROR_INVALID_FUNCTION, FALSE);
    uint64_t available = file.position < data->size() ? data->size() - file.position : 0;
    DWORD count = static_cast<DWORD>(std::min<uint64_t>(available, bytes));
    if (count) std::memcpy(buffer, data->data() + file.position, count);
    file.position += count;
    if (read) *read = count;
    return TRUE;
}

BOOL WINAPI FakeWriteFile(HANDLE handle, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (written) *written = 0;
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    OpenFile& file = object->file;
    if (!file.Writes()) return Fail(ERROR_ACCESS_DENIED, FALSE);
    std::vector<uint8_t>* data = g.impl->StreamData(file.record, file.stream, true);
    if (data->size() < file.position + bytes) data->resize(file.position + bytes);
    if (bytes) std::memcpy(data->data() + file.position, buffer, bytes);
    file.position += bytes;
    if (written) *written = bytes;
    return TRUE;
}

DWORD WINAPI FakeGetFileSize(HANDLE handle, LPDWORD high) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (!object) return Fail<DWORD>(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
    std::vector<uint8_t>* data = g.impl->StreamData(object->file.record, object->file.stream, false);
    uint64_t size = data ? data->size() : 0;
    if (high) *high = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL WINAPI FakeGetDiskFreeSpaceExW(LPCWSTR root, PULARGE_INTEGER available, PULARGE_INTEGER total,
                                    PULARGE_INTEGER free) {
    Guard g;
    Located at;
    DWORD error = 0;
    if (!g.impl->LocatePath(root, true, at, error)) return Fail(error, FALSE);
    if (!at.record || !at.record->isDir) return Fail(ERROR_DIRECTORY, FALSE);
    if (available) available->QuadPart = 1ull << 30;
    if (total) total->QuadPart = 1ull << 32;
    if (free) free->QuadPart = 1ull << 30;
    return TRUE;
}

UINT WINAPI FakeSetErrorMode(UINT mode) {
    Guard g;
    UINT previous = g.impl->errorMode;
    g.impl->errorMode = mode;
    return previous;
}

BOOL WINAPI FakeGetVolumeInformationW(LPCWSTR root, LPWSTR name, DWORD nameSize, LPDWORD serial,
                                      LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystem, DWORD fileSystemSize) {
    Guard g;
    std::wstring full;
    if (!root || !*root || root[wcslen(root) - 1] != L'\\' || !g.impl->Canonical(root, full))
        return Fail(ERROR_INVALID_NAME, FALSE);
    Located at;
    DWORD error = 0;
    if (!g.impl->Locate(full, true, at, error)) return Fail(error, FALSE);
    if (!at.record || at.record != at.record->volume->root) return Fail(ERROR_DIR_NOT_ROOT, FALSE);
    Volume* volume = at.record->volume;
    const std::wstring& fs = volume->options.fileSystem;
    if (fileSystem && fileSystemSize <= fs.size()) return Fail(ERROR_BAD_LENGTH, FALSE);
    if (name && nameSize) name[0] = L'\0';
    if (serial) *serial = volume->options.serial;
    if (maxComponent) *maxComponent = 255;
    if (flags) *flags = volume->IsNtfs() ? (FILE_NAMED_STREAMS | FILE_SUPPORTS_REPARSE_POINTS) : 0;
    if (fileSystem) wcscpy(fileSystem, fs.c_str());
    return TRUE;
}

DWORD WINAPI FakeGetLogicalDriveStringsW(DWORD size, LPWSTR buffer) {
    Guard g;
    std::vector<wchar_t> letters;
    for (auto& v : g.impl->volumes)
        if (v->letter) letters.push_back(v->letter);
    std::sort(letters.begin(), letters.end());
    std::wstring list;
    for (wchar_t letter : letters) {
        list += letter;
        list += L":\\";
        list += L'\0';
    }
    if (size <= list.size()) return static_cast<DWORD>(list.size() + 1);
    std::memcpy(buffer, list.data(), list.size() * sizeof(wchar_t));
    buffer[list.size()] = L'\0';
    return static_cast<DWORD>(list.size());
}

BOOL WINAPI FakeDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED) {
    Guard g;
    HandleObject* object = g.impl->Find(handle, HandleObject::File);
    if (returned) *returned = 0;
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    Record* record = object->file.record;
    Volume* volume = record->volume;
    if (code == kFsctlGetReparsePoint) {
        if (record->reparse.empty()) return Fail(ERROR_NOT_A_REPARSE_POINT, FALSE);
        if (record->reparseUnreadable) return Fail(ERROR_ACCESS_DENIED, FALSE);
        if (outSize < kReparseHeaderBytes) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
        DWORD count = static_cast<DWORD>(std::min<size_t>(outSize, record->reparse.size()));
        std::memcpy(out, record->reparse.data(), count);
        if (returned) *returned = count;
        if (count < record->reparse.size()) return Fail(ERROR_MORE_DATA, FALSE);
        return TRUE;
    }
    if (code == kFsctlSetReparsePoint || code == kFsctlDeleteReparsePoint) {
        if (!object->file.Writes()) return Fail(ERROR_ACCESS_DENIED, FALSE);
        if (!volume->IsNtfs()) return Fail(ERROR_INVALID_FUNCTION, FALSE);
        if (!in || inSize < kReparseHeaderBytes || inSize > kReparseTransferBytes)
            return Fail(ERROR_INVALID_REPARSE_DATA, FALSE);
        const auto* header = static_cast<const MountPointRecord*>(in);
        if (code == kFsctlDeleteReparsePoint) {
            if (inSize != kReparseHeaderBytes || header->reparseDataLength != 0)
                return Fail(ERROR_INVALID_REPARSE_DATA, FALSE);
            if (record->reparse.empty()) return Fail(ERROR_NOT_A_REPARSE_POINT, FALSE);
            if (*reinterpret_cast<const DWORD*>(record->reparse.data()) != header->reparseTag)
                return Fail(ERROR_REPARSE_TAG_MISMATCH, FALSE);
            record->reparse.clear();
            record->reparseUnreadable = false;
            record->attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
            return TRUE;
        }
        if (inSize != header->reparseDataLength + kReparseHeaderBytes) return Fail(ERROR_INVALID_REPARSE_DATA, FALSE);
        if (!record->reparse.empty() && *reinterpret_cast<const DWORD*>(record->reparse.data()) != header->reparseTag)
            return Fail(ERROR_REPARSE_TAG_MISMATCH, FALSE);
        if (header->reparseTag == kMountPointTag) {
            if (inSize < 16 ||
                16u + header->substituteNameOffset + header->substituteNameLength > inSize ||
                16u + header->printNameOffset + header->printNameLength > inSize)
                return Fail(ERROR_INVALID_REPARSE_DATA, FALSE);
            if (!record->isDir) return Fail(ERROR_DIRECTORY, FALSE);
            if (!record->children.empty()) return Fail(ERROR_DIR_NOT_EMPTY, FALSE);
        }
        record->reparse.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inSize);
        record->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        return TRUE;
    }
    return Fail(ERROR_INVALID_FUNCTION, FALSE);
}

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

BOOL WINAPI FakeGetVolumeNameForVolumeMountPointW(LPCWSTR mountPoint, LPWSTR name, DWORD size) {
    Guard g;
    Impl* impl = g.impl;
    std::wstring full;
    if (!mountPoint || !*mountPoint || mountPoint[wcslen(mountPoint) - 1] != L'\\' ||
        !impl->Canonical(mountPoint, full))
        return Fail(ERROR_INVALID_NAME, FALSE);
    if (full.rfind(L"\\\\", 0) == 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    Volume* volume = nullptr;
    if (full.size() == 3) {
        volume = impl->VolumeByLetter(full[0]);
        if (!volume) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
        if (!volume->options.ready || !volume->options.nameReadable) return Fail(ERROR_NOT_READY, FALSE);
    } else {
        Located at;
        DWORD error = 0;
        if (!impl->Locate(full, false, at, error)) return Fail(error, FALSE);
        if (!at.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
        if (at.record->reparse.empty()) return Fail(ERROR_NOT_A_REPARSE_POINT, FALSE);
        DWORD followError = 0;
        Record* target = impl->FollowReparse(at.record, 0, followError);
        if (!target || target != target->volume->root) return Fail(ERROR_NOT_A_REPARSE_POINT, FALSE);
        volume = target->volume;
    }
    if (size <= volume->guidPath.size()) return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
    wcscpy(name, volume->guidPath.c_str());
    return TRUE;
}

BOOL WINAPI FakeSetVolumeMountPointW(LPCWSTR mountPoint, LPCWSTR volumeName) {
    Guard g;
    Impl* impl = g.impl;
    std::wstring full;
    if (!mountPoint || !volumeName || !*mountPoint || mountPoint[wcslen(mountPoint) - 1] != L'\\' ||
        !impl->Canonical(mountPoint, full))
        return Fail(ERROR_INVALID_NAME, FALSE);
    std::wstring volumePath = volumeName;
    if (volumePath.empty() || volumePath.back() != L'\\') return Fail(ERROR_INVALID_NAME, FALSE);
    Volume* volume = impl->VolumeByGuidPath(volumePath);
    if (!volume) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    Located at;
    DWORD error = 0;
    if (!impl->Locate(full, false, at, error)) return Fail(error, FALSE);
    if (!at.record) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (!at.record->isDir) return Fail(ERROR_DIRECTORY, FALSE);
    if (!at.record->volume->IsNtfs()) return Fail(ERROR_INVALID_FUNCTION, FALSE);
    if (!at.record->children.empty() || !at.record->reparse.empty()) return Fail(ERROR_DIR_NOT_EMPTY, FALSE);
    at.record->reparse = Impl::MountPointBytes(L"\\??\\" + volumePath.substr(4));
    at.record->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return TRUE;
}

HGLOBAL WINAPI FakeGlobalAlloc(UINT flags, SIZE_T bytes) {
    Guard g;
    Impl* impl = g.impl;
    ++impl->stats.allocations;
    if (impl->failAt > 0 && --impl->failAt == 0) {
        impl->failureHappened = true;
        return Fail<HGLOBAL>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    HGLOBAL block = ::GlobalAlloc(GMEM_FIXED | (flags & GMEM_ZEROINIT), bytes ? bytes : 1);
    if (!block) return nullptr;
    if (!(flags & GMEM_ZEROINIT)) std::memset(block, 0xCD, bytes);
    impl->blocks.emplace(block, bytes);
    impl->stats.liveBytes += static_cast<long long>(bytes);
    impl->stats.peakBytes = std::max(impl->stats.peakBytes, impl->stats.liveBytes);
    return block;
}

HGLOBAL WINAPI FakeGlobalFree(HGLOBAL block) {
    Guard g;
    auto it = g.impl->blocks.find(block);
    if (it == g.impl->blocks.end()) {
        ++g.impl->badReleases;
        return block;
    }
    g.impl->stats.liveBytes -= static_cast<long long>(it->second);
    g.impl->blocks.erase(it);
    return ::GlobalFree(block);
}

HANDLE WINAPI FakeCreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual, BOOL initial, LPCWSTR) {
    Guard g;
    HandleObject object;
    object.kind = HandleObject::Event;
    object.event.manual = manual != FALSE;
    object.event.signalled = initial != FALSE;
    return g.impl->NewHandle(std::move(object));
}

// Fake events change state here; real ones (made by the caller itself) go to the system.
BOOL SetEventState(HANDLE handle, bool signalled) {
    {
        Guard g;
        if (HandleObject* object = g.impl->Find(handle, HandleObject::Event)) {
            object->event.signalled = signalled;
            return TRUE;
        }
    }
    return signalled ? ::SetEvent(handle) : ::ResetEvent(handle);
}

BOOL WINAPI FakeSetEvent(HANDLE handle) { return SetEventState(handle, true); }

BOOL WINAPI FakeResetEvent(HANDLE handle) { return SetEventState(handle, false); }

DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    DWORD waited = 0;
    for (;;) {
        {
            Guard g;
            HandleObject* object = g.impl->Find(handle, HandleObject::Event);
            if (!object) break;
            FakeEvent& event = object->event;
            ++event.polls;
            if (event.resetAfter >= 0 && event.polls > event.resetAfter) event.signalled = false;
            if (event.signalled) {
                if (!event.manual) event.signalled = false;
                return WAIT_OBJECT_0;
            }
            if (milliseconds != INFINITE && waited >= milliseconds) return WAIT_TIMEOUT;
        }
        Sleep(1);
        ++waited;
    }
    return ::WaitForSingleObject(handle, milliseconds);
}

} // namespace

// ---- set-up and accounting ---------------------------------------------------------------------

FakeVolumeSet::FakeVolumeSet() : impl_(std::make_unique<Impl>()) {
    impl_->api = KernelApi{
        FakeCreateFileW, FakeGetFileAttributesW, FakeGetFullPathNameW, FakeFindFirstFileW, FakeFindNextFileW,
        FakeFindClose, FakeGetFileInformationByHandle, FakeCreateHardLinkW, FakeDeleteFileW, FakeReadFile,
        FakeWriteFile, FakeGetFileSize, FakeCloseHandle, FakeGetCurrentDirectoryW, FakeSetCurrentDirectoryW,
        FakeGetDiskFreeSpaceExW, FakeSetErrorMode, FakeGetVolumeInformationW, FakeGetLogicalDriveStringsW,
        FakeDeviceIoControl, FakeBackupRead, FakeBackupSeek, FakeGetVolumeNameForVolumeMountPointW,
        FakeSetVolumeMountPointW, FakeGlobalAlloc, FakeGlobalFree, FakeCreateEventW, FakeSetEvent,
        FakeResetEvent, FakeWaitForSingleObject, nullptr,
    };
}

FakeVolumeSet::~FakeVolumeSet() {
    if (activeSet == this) activeSet = nullptr;
    for (auto& block : impl_->blocks) ::GlobalFree(block.first);
}

const KernelApi& FakeVolumeSet::Api() const { return impl_->api; }
FakeVolumeSet* FakeVolumeSet::Active() { return activeSet; }

namespace {
std::wstring MakeVolume(Impl& impl, wchar_t letter, const std::wstring& unc, const VolumeOptions& options) {
    auto volume = std::make_unique<Volume>();
    int number = ++impl.volumeCounter;
    wchar_t guid[64];
    swprintf(guid, 64, L"\\\\?\\Volume{%08x-4b1d-11e9-a3c0-%012x}\\", 0x5eed0000 + number, number * 7919);
    volume->guidPath = unc.empty() ? guid : L"";
    volume->letter = letter ? static_cast<wchar_t>(towupper(letter)) : 0;
    volume->uncRoot = unc;
    volume->options = options;
    if (!volume->options.serial) volume->options.serial = 0x1A2B0000u + static_cast<DWORD>(number);
    volume->nextIndex = options.firstIndex;
    volume->root = impl.NewRecord(volume.get(), true);
    volume->root->links = 1;
    std::wstring name = volume->guidPath;
    impl.volumes.push_back(std::move(volume));
    return name;
}
} // namespace

std::wstring FakeVolumeSet::AddVolume(wchar_t letter, const VolumeOptions& options) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return MakeVolume(*impl_, letter, L"", options);
}

std::wstring FakeVolumeSet::AddUnletteredVolume(const VolumeOptions& options) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return MakeVolume(*impl_, 0, L"", options);
}

void FakeVolumeSet::AddShare(const std::wstring& uncRoot) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    MakeVolume(*impl_, 0, uncRoot, VolumeOptions{});
}

void FakeVolumeSet::SetReady(wchar_t letter, bool ready) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->VolumeByLetter(letter)->options.ready = ready;
}

namespace {
Located NewEntryAt(Impl& impl, const std::wstring& path) {
    Located at = impl.MustLocate(path, false);
    if (at.record || !at.parent || !at.stream.empty())
        throw std::runtime_error("fake volumes: entry exists or has no parent");
    return at;
}
} // namespace

void FakeVolumeSet::MakeFolder(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Located at = NewEntryAt(*impl_, path);
    impl_->AddEntry(at, true);
}

void FakeVolumeSet::MakeFile(const std::wstring& path, const std::string& data) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Located at = NewEntryAt(*impl_, path);
    impl_->AddEntry(at, false)->data.assign(data.begin(), data.end());
}

void FakeVolumeSet::MakeStream(const std::wstring& path, const std::wstring& name, const std::string& data) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Record* record = impl_->MustFind(path);
    impl_->StreamData(record, name, true)->assign(data.begin(), data.end());
}

void FakeVolumeSet::MakeStreamOfSize(const std::wstring& path, const std::wstring& name, size_t bytes) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Record* record = impl_->MustFind(path);
    impl_->StreamData(record, name, true)->assign(bytes, 0x5A);
}

void FakeVolumeSet::MakeLink(const std::wstring& existing, const std::wstring& newPath) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Record* record = impl_->MustFind(existing);
    Located at = NewEntryAt(*impl_, newPath);
    at.parent->AddChild(at.name, record);
    ++record->links;
}

void FakeVolumeSet::MakeJunction(const std::wstring& folder, const std::wstring& target) {
    std::wstring substitute = L"\\??\\" + target;
    if (substitute.back() != L'\\') substitute += L'\\';
    SetRawReparse(folder, Impl::MountPointBytes(substitute));
}

void FakeVolumeSet::MakeMount(const std::wstring& folder, const std::wstring& volumeName) {
    SetRawReparse(folder, Impl::MountPointBytes(L"\\??\\" + volumeName.substr(4)));
}

void FakeVolumeSet::SetRawReparse(const std::wstring& path, const std::vector<uint8_t>& data) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Record* record = impl_->MustFind(path);
    record->reparse = data;
    if (data.empty())
        record->attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
    else
        record->attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
}

void FakeVolumeSet::SetReparseUnreadable(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->MustFind(path)->reparseUnreadable = true;
}

void FakeVolumeSet::SetDenied(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->MustFind(path)->denied = true;
}

void FakeVolumeSet::AddAttributes(const std::wstring& path, DWORD attributes) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->MustFind(path)->attributes |= attributes;
}

void FakeVolumeSet::Remove(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Located at = impl_->MustLocate(path, false);
    if (!at.record || !at.parent) throw std::runtime_error("fake volumes: nothing to remove");
    if (Record* child = at.parent->RemoveChild(at.name)) --child->links;
}

bool FakeVolumeSet::Exists(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    Located at;
    DWORD error = 0;
    if (!impl_->LocatePath(path.c_str(), false, at, error) || !at.record) return false;
    return at.stream.empty() || impl_->StreamData(at.record, at.stream, false);
}

DWORD FakeVolumeSet::Attributes(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->MustFind(path)->attributes;
}

int FakeVolumeSet::LinkCount(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->MustFind(path)->links;
}

std::vector<uint8_t> FakeVolumeSet::ReparseData(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->MustFind(path)->reparse;
}

std::vector<std::wstring> FakeVolumeSet::StreamNames(const std::wstring& path) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    std::vector<std::wstring> names;
    for (auto& s : impl_->MustFind(path)->streams) names.push_back(s.first);
    return names;
}

std::wstring FakeVolumeSet::CurrentDirectory() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->currentDirectory;
}

int FakeVolumeSet::OpenHandles() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return static_cast<int>(impl_->handles.size());
}

int FakeVolumeSet::LiveBlocks() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return static_cast<int>(impl_->blocks.size() + impl_->backups.size());
}

int FakeVolumeSet::BadReleases() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->badReleases;
}

int FakeVolumeSet::TakeBadReleases() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    int count = impl_->badReleases;
    impl_->badReleases = 0;
    return count;
}

int FakeVolumeSet::CriticalErrorDialogs() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->criticalDialogs;
}

UINT FakeVolumeSet::ErrorMode() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->errorMode;
}

FakeStats FakeVolumeSet::Stats() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->stats;
}

void FakeVolumeSet::ResetStats() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    long long live = impl_->stats.liveBytes;
    impl_->stats = FakeStats{};
    impl_->stats.liveBytes = live;
    impl_->stats.peakBytes = live;
}

void FakeVolumeSet::FailAllocationAt(long long n) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->failAt = n;
    impl_->failureHappened = false;
}

bool FakeVolumeSet::AllocationFailureHappened() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->failureHappened;
}

void FakeVolumeSet::ResetEventAfterPolls(HANDLE event, int polls) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    HandleObject* object = impl_->Find(event, HandleObject::Event);
    if (!object) throw std::runtime_error("fake volumes: not a fake event");
    object->event.resetAfter = polls;
    object->event.polls = 0;
}

int FakeVolumeSet::PollCount(HANDLE event) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    HandleObject* object = impl_->Find(event, HandleObject::Event);
    return object ? object->event.polls : -1;
}

ScopedFakeKernel::ScopedFakeKernel(FakeVolumeSet& volumes) {
    activeSet = &volumes;
    previous_ = ReplaceKernelApi(&volumes.Api());
}

ScopedFakeKernel::~ScopedFakeKernel() {
    ReplaceKernelApi(previous_);
    activeSet = nullptr;
}

} // namespace kestrune::testing
