// An in-memory set of NTFS (and FAT) volumes that implements the kernel table with Win32's
// observable semantics: drive letters, volume GUID names, UNC shares, hard links, named streams,
// mount-point reparse data, the mount manager, the backup stream walk, share modes, and the
// error codes Windows gives. It counts handles and heap blocks and can fail allocations on request.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ntfs/kernel.h"

namespace kestrune::testing {

struct VolumeOptions {
    std::wstring fileSystem = L"NTFS";
    bool ready = true;
    DWORD serial = 0;            // 0: one is made up
    bool nameReadable = true;    // false: the mount manager cannot read its volume name
    uint64_t firstIndex = 0x100; // file indexes start here on every volume, so they coincide
    int namesBeforeRefusal = -1; // FindFirst/NextFileNameW refuse the volume after this many names; -1: never
    UINT driveType = DRIVE_FIXED; // what GetDriveTypeW reports: DRIVE_REMOTE for a mapped network drive
    bool renamesStreams = true;   // false: renaming an open stream is refused (ERROR_INVALID_PARAMETER), as by a redirector
};

// FindFirstStreamW and FindNextStreamW: in the table, missing (before Vista), or in the table but
// refused by the file system (ERROR_INVALID_FUNCTION, as a redirector or filter without the query).
enum class StreamCalls { Present, Absent, Refused };

// Who may create symbolic links: a process holding the right (an administrator, or a user it was
// granted to), a user of a machine in Developer Mode (only with the unprivileged-create flag), or neither.
enum class SymbolicLinkRight { Held, DeveloperMode, None };

// Reparse tags as Windows defines them.
inline constexpr DWORD kCloudTag = 0x9000001A;        // IO_REPARSE_TAG_CLOUD (OneDrive-style folders)
inline constexpr DWORD kCloudSubTag = 0x9000601A;     // IO_REPARSE_TAG_CLOUD_6
inline constexpr DWORD kDedupTag = 0x80000013;        // IO_REPARSE_TAG_DEDUP
inline constexpr DWORD kSymbolicLinkTag = 0xA000000C; // IO_REPARSE_TAG_SYMLINK
// A REPARSE_DATA_BUFFER: mount-point and symbolic-link tags get their two names (a symbolic link
// after its flags field, SYMLINK_FLAG_RELATIVE (1) for a name relative to the link's folder),
// stored print name first when asked; any other tag gets opaque data.
std::vector<uint8_t> ReparseRecord(DWORD tag, const std::wstring& substitute = L"", const std::wstring& print = L"",
                                   bool printNameFirst = false, DWORD flags = 0);

struct FakeStats {
    long long kernelCalls = 0; // every call through the kernel table
    long long fileOpens = 0;
    long long findFirsts = 0;
    long long findNexts = 0;
    long long backupBytesRead = 0;
    long long bytesRead = 0, bytesWritten = 0; // through ReadFile and WriteFile
    long long allocations = 0;
    long long liveBytes = 0;
    long long peakBytes = 0;
};

// The ways the hard-link enumeration can take on these volumes: the file's own list of names, the
// id-bearing folder listing (the name calls missing), and the search that opens each file (the id
// listing refused too).
struct LinkWay {
    const char* name;
    bool nameCalls, idListing;
};
inline constexpr LinkWay kLinkWays[] = {{"names", true, true}, {"id listing", false, true}, {"opening each file", false, false}};

class FakeVolumeSet {
public:
    FakeVolumeSet();
    ~FakeVolumeSet();
    FakeVolumeSet(const FakeVolumeSet&) = delete;
    FakeVolumeSet& operator=(const FakeVolumeSet&) = delete;

    // Volumes. Each returns the volume GUID path, "\\?\Volume{...}\".
    std::wstring AddVolume(wchar_t letter, const VolumeOptions& options = {});
    std::wstring AddUnletteredVolume(const VolumeOptions& options = {});
    // \\server\share, the root of the server's drive `serverDrive`: the server resolves a reparse
    // point on the share on its own drives, so "\??\S:\x" leads into the share and "\??\C:\x" to
    // no drive of ours.
    void AddShare(const std::wstring& uncRoot, wchar_t serverDrive = L'S');
    void SetReady(wchar_t letter, bool ready);
    // A letter that stands for a folder (SUBST S: D:\sub) or a share (a mapped network drive).
    void AddDriveAlias(wchar_t letter, const std::wstring& target);
    void SetDriveType(wchar_t letter, UINT type); // DRIVE_REMOTE: a mapped network drive
    void SetStreamRenames(wchar_t letter, bool inPlace); // as VolumeOptions::renamesStreams
    void SetFreeBytes(wchar_t letter, uint64_t bytes);   // room left from now on; past it, ERROR_DISK_FULL

    // Content, by full path. Parents must exist (a junction or mount makes its own folder where
    // missing). Paths pass through junctions like any open.
    void MakeFolder(const std::wstring& path);
    void MakeFile(const std::wstring& path, const std::string& data = "");
    void MakeStream(const std::wstring& path, const std::wstring& name, const std::string& data);
    void MakeStreamOfSize(const std::wstring& path, const std::wstring& name, size_t bytes);
    // A stream of another type than $DATA (":name:$TYPE"), listed by the stream calls, never opened as data.
    void MakeTypedStream(const std::wstring& path, const std::wstring& name, const std::wstring& type);
    // Opens of this stream ("" the unnamed one) asking for DELETE are refused: write but not delete.
    void DenyStreamDelete(const std::wstring& path, const std::wstring& name);
    void MakeLink(const std::wstring& existing, const std::wstring& newPath);
    void MakeJunction(const std::wstring& folder, const std::wstring& target);   // D:\data
    void MakeMount(const std::wstring& folder, const std::wstring& volumeName);  // \\?\Volume{..}\ .
    // To D:\x.txt; a relative one stores its text as Windows lays it out ("..\x", SYMLINK_FLAG_RELATIVE).
    void MakeSymbolicLink(const std::wstring& path, const std::wstring& target, bool folder = false, bool relative = false);
    void SetRawReparse(const std::wstring& path, const std::vector<uint8_t>& data);
    void MakeCloudSyncRoot(const std::wstring& folder); // it and each folder below (not links): cloud placeholders
    void SetReparseUnreadable(const std::wstring& path);
    void SetDenied(const std::wstring& path); // cannot be opened or listed
    void SetListingDenied(const std::wstring& path); // opens that read its data or list it are refused
    // The caller's token. A standard user's (false; Explorer's) is refused SetVolumeMountPointW and
    // DeleteVolumeMountPointW by the mount manager, and opens for writing of items SetAdminOnly
    // marks, both with ERROR_ACCESS_DENIED. The set starts elevated.
    void SetElevated(bool elevated);
    void SetAdminOnly(const std::wstring& path); // a folder whose ACL grants changes to administrators only
    void SetIdListingRefused(bool refused); // the id-bearing directory listing, by every folder
    void RefuseIdListing(const std::wstring& folder); // by this folder alone
    void Use(const LinkWay& way);
    // The 8.3 name NTFS keeps beside a long one ("LONGNA~1.TXT"): it opens the same entry, and
    // the entry's final path and name list show its own name.
    void SetShortName(const std::wstring& path, const std::wstring& shortName);
    void AddAttributes(const std::wstring& path, DWORD attributes);
    void Remove(const std::wstring& path);

    // Inspection.
    bool Exists(const std::wstring& path);
    DWORD Attributes(const std::wstring& path);
    int LinkCount(const std::wstring& path);
    std::vector<uint8_t> ReparseData(const std::wstring& path);
    std::vector<std::wstring> StreamNames(const std::wstring& path);
    std::wstring CurrentDirectory();
    // Whether the mount manager's database holds a mount of some volume on this folder (D:\m).
    bool MountManagerLists(const std::wstring& folder);

    // Accounting.
    int OpenHandles();
    int LiveBlocks();      // heap blocks and backup contexts
    int BadReleases();     // closes and frees of things never handed out
    int TakeBadReleases(); // the count, cleared
    int CriticalErrorDialogs();
    UINT ErrorMode();
    FakeStats Stats();
    void ResetStats();
    // The n-th allocation from now fails (1 = the next one); 0 = none fails.
    void FailAllocationAt(long long n);
    bool AllocationFailureHappened();
    // The first `polls` polls of a fake event see it as it is; later ones see it reset.
    void ResetEventAfterPolls(HANDLE event, int polls);
    int PollCount(HANDLE event);

    // false: the table lacks FindFirstFileNameW and FindNextFileNameW, as on systems before Vista.
    void SetNameCallsPresent(bool present);
    // true: the table has GetFileInformationByName, as on Windows 11 24H2.
    void SetByNameQueryPresent(bool present);
    void SetStreamCalls(StreamCalls calls);
    void SetSymbolicLinkRight(SymbolicLinkRight right);
    // false: a Windows before 10 1703, which refuses SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    // as an invalid parameter.
    void SetUnprivilegedFlagKnown(bool known);
    const KernelApi& Api() const;
    static FakeVolumeSet* Active();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Binds the kernel table to a volume set for one scope.
class ScopedFakeKernel {
public:
    explicit ScopedFakeKernel(FakeVolumeSet& volumes);
    ~ScopedFakeKernel();
    ScopedFakeKernel(const ScopedFakeKernel&) = delete;
    ScopedFakeKernel& operator=(const ScopedFakeKernel&) = delete;

private:
    const KernelApi* previous_;
};

} // namespace kestrune::testing
