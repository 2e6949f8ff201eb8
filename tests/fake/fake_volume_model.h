// The in-memory volume model shared by the fake kernel calls: records, volumes, handles, the
// volume set's state, and path resolution. Private to tests/fake/.
#pragma once
#include "tests/fake/fake_volumes.h"

#include <mutex>
#include <set>

namespace kestrune::testing {

inline constexpr uintptr_t kFirstHandle = 0x7f000000;
inline constexpr int kMaxReparseHops = 31;
inline constexpr DWORD kNameSurrogateBit = 0x20000000;

std::wstring Upper(const std::wstring& s);
bool SameName(const std::wstring& a, const std::wstring& b);
bool HasWildcards(const std::wstring& s);
bool MatchesPattern(const std::wstring& pattern, const std::wstring& name);
std::vector<std::wstring> SplitComponents(const std::wstring& rest);

struct Volume;

struct Record {
    uint64_t index = 0;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    bool isDir = false;
    bool denied = false;
    bool listDenied = false;
    bool adminOnly = false; // only an elevated token may open it for writing
    bool reparseUnreadable = false;
    bool refusesIdListing = false;
    int links = 0;
    std::vector<uint8_t> data;
    std::vector<std::pair<std::wstring, std::vector<uint8_t>>> streams;
    std::vector<std::pair<std::wstring, std::wstring>> otherStreams; // name and a type other than $DATA
    std::set<std::wstring> deleteDenied; // streams (upper case, "" the unnamed one) this user may not delete
    std::vector<uint8_t> reparse;
    std::vector<std::pair<std::wstring, Record*>> children; // in creation order, as a search returns them
    std::map<std::wstring, Record*> byUpperName;
    std::map<std::wstring, std::wstring> longByShortName; // upper-cased 8.3 name -> the entry's own name
    std::vector<std::pair<Record*, std::wstring>> names; // every (folder, name) that holds this record
    Volume* volume = nullptr;

    void AddChild(const std::wstring& name, Record* child) {
        children.emplace_back(name, child);
        byUpperName[Upper(name)] = child;
        child->names.emplace_back(this, name);
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
        for (auto it = child->names.begin(); it != child->names.end(); ++it) {
            if (it->first == this && SameName(it->second, name)) {
                child->names.erase(it);
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
    wchar_t serverDrive = 0; // shares: the server's drive whose root the share is
    VolumeOptions options;
    Record* root = nullptr;
    std::vector<std::wstring> mountedAt; // the mount manager's folders of this volume, "D:\m\"
    uint64_t nextIndex = 0;
    std::vector<std::unique_ptr<Record>> records;
    uint64_t capacity = 0; // bytes its streams may hold in all; 0: as many as they need
    bool IsNtfs() const { return options.fileSystem == L"NTFS"; }
    uint64_t UsedBytes() const { // a deleted record's room is free again
        uint64_t used = 0;
        for (auto& record : records)
            for (auto& stream : record->streams) used += record->names.empty() ? 0 : stream.second.size();
        for (auto& record : records) used += record->names.empty() ? 0 : record->data.size();
        return used;
    }
    // Whether `more` bytes still fit; a write that does not fit fails whole with ERROR_DISK_FULL.
    bool Holds(uint64_t more) const { return capacity == 0 || UsedBytes() + more <= capacity; }
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
    Record* parent = nullptr; // and name: the entry it was opened by
    std::wstring name;
    std::wstring stream;
    DWORD access = 0;
    DWORD share = 0;
    uint64_t position = 0;
    bool deletePending = false; // the stream, or this entry of the file, goes when its last handle closes
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
    enum Kind { File, Search, NameSearch, StreamSearch, Event } kind = File;
    OpenFile file;
    std::vector<WIN32_FIND_DATAW> entries; // Search
    std::vector<std::wstring> names;       // NameSearch, StreamSearch
    std::vector<uint64_t> sizes;           // StreamSearch
    size_t nextEntry = 0;                  // Search, NameSearch
    size_t namesBeforeRefusal = SIZE_MAX;  // NameSearch
    std::vector<std::pair<std::wstring, Record*>> listing; // File: a folder's id listing in progress
    size_t nextListed = 0;
    bool listingStarted = false;
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
    std::map<DWORD, DWORD> threadErrorModes; // by thread id
    DWORD ThreadErrorMode() { return threadErrorModes[GetCurrentThreadId()]; }
    long long failAt = 0;
    bool failureHappened = false;
    int volumeCounter = 0;
    bool idListingRefused = false;
    bool elevated = true; // the caller's token: false for a standard user's
    std::map<wchar_t, std::wstring> aliases; // SUBST letters and mapped network drives, by letter
    // "\\?\D:", "\\?\UNC\server\share", or the DOS path of a folder a letterless volume is mounted in.
    std::wstring DosRoot(Volume* volume, int depth = 0);
    StreamCalls streamCalls = StreamCalls::Present;
    SymbolicLinkRight symbolicLinkRight = SymbolicLinkRight::Held;
    bool unprivilegedFlagKnown = true;
    FakeStats stats;
    KernelApi api{};

    // Path resolution, records and the handle table.
    bool Canonical(std::wstring s, std::wstring& out, int depth = 0);
    static std::wstring RootPrefix(const std::wstring& full);
    Volume* VolumeByLetter(wchar_t letter);
    Volume* VolumeByGuidPath(const std::wstring& path);
    bool NotReady(Volume* v);
    // The entry `name` (its own name or its 8.3 name) names in `dir`; `name` becomes its own name.
    Record* Child(Record* dir, std::wstring& name);
    Record* Child(Record* dir, const std::wstring& name) {
        std::wstring own = name;
        return Child(dir, own);
    }
    // `linkFolder`: the folder the entry was reached in, where a relative symbolic link starts.
    Record* FollowReparse(Record* record, int hops, DWORD& error, Record* linkFolder = nullptr);
    bool Locate(const std::wstring& full, bool followFinal, Located& at, DWORD& error, int hops = 0);
    bool LocatePath(const wchar_t* path, bool followFinal, Located& at, DWORD& error);
    Located MustLocate(const std::wstring& path, bool followFinal = true);
    Record* MustFind(const std::wstring& path, bool followFinal = false);
    Record* NewRecord(Volume* volume, bool isDir);
    Record* AddEntry(Located& at, bool isDir);
    std::vector<uint8_t>* StreamData(Record* record, const std::wstring& stream, bool create);
    bool HasOpenWithoutShare(Record* record, DWORD share);
    HANDLE NewHandle(HandleObject object);
    HandleObject* Find(HANDLE handle, HandleObject::Kind kind);
    static WIN32_FIND_DATAW FindDataOf(const std::wstring& name, Record* record);
    static DWORD TagOf(Record* record); // 0 without reparse data
    // A folder's entries as its volume lists them: "." and ".." (both the folder itself; none at a
    // root), then the children, in index order on NTFS and in creation order elsewhere.
    static std::vector<std::pair<std::wstring, Record*>> Listing(Record* folder);
    // The path of an entry from its volume's root, "\a\b.txt".
    static std::wstring VolumePath(Record* folder, const std::wstring& name);
    // The folder's entry in its volume's mount-manager list, or end().
    static std::vector<std::wstring>::iterator MountEntry(Volume* volume, const std::wstring& folder);

    static FakeVolumeSet::Impl* Self();
    static FakeVolumeSet* active; // the set the kernel table is bound to
};

using Impl = FakeVolumeSet::Impl;

// Every fake kernel call runs under the set's lock.
struct Guard {
    Impl* impl;
    std::lock_guard<std::recursive_mutex> lock;
    Guard() : impl(Impl::Self()), lock(impl->mutex) { ++impl->stats.kernelCalls; }
};

template <typename T> T Fail(DWORD error, T value) {
    SetLastError(error);
    return value;
}

// Each role fills its part of the kernel table.
void BindFileCalls(KernelApi& api);
void BindByNameQuery(KernelApi& api, bool present);
void BindSearchCalls(KernelApi& api);
void BindVolumeCalls(KernelApi& api);
void BindReparseCalls(KernelApi& api);
void BindBackupCalls(KernelApi& api);
void BindHeapAndEventCalls(KernelApi& api);
void BindStreamSearchCalls(KernelApi& api, StreamCalls calls);
void BindNamespaceCalls(KernelApi& api);
void BindHandleInfoCalls(KernelApi& api);
// Closes a file handle; a delete disposition set on it takes effect once no handle holds that stream.
void CloseFileHandle(Impl* impl, std::map<uintptr_t, HandleObject>::iterator it);

} // namespace kestrune::testing
