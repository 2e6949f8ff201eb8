// The volume set's own semantics, checked through the kernel table as the library sees it.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ntfs/reparse/reparse_record.h"
#include "ntfs/scoped.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

class FakeVolumeSetTest : public LeakCheckedTest {
protected:
    FakeVolumeSetTest() {
        volumes.AddVolume(L'C');
        dGuid = volumes.AddVolume(L'D');
        volumes.AddVolume(L'F', VolumeOptions{L"FAT"});
        volumes.MakeFolder(L"D:\\docs");
        volumes.MakeFile(L"D:\\docs\\a.txt", "hello");
    }
    const KernelApi& k = volumes.Api();
    std::wstring dGuid;

    std::vector<std::wstring> List(const wchar_t* pattern) {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE search = k.FindFirstFileW(pattern, &data);
        if (search == INVALID_HANDLE_VALUE) return names;
        do names.push_back(data.cFileName);
        while (k.FindNextFileW(search, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        k.FindClose(search);
        return names;
    }
};

TEST_F(FakeVolumeSetTest, FullPathsResolveAgainstTheCurrentDirectory) {
    wchar_t out[MAX_PATH];
    ASSERT_TRUE(k.SetCurrentDirectoryW(L"D:\\docs"));
    EXPECT_EQ(k.GetFullPathNameW(L"x\\..\\b.txt", MAX_PATH, out, nullptr), 13u);
    EXPECT_STREQ(out, L"D:\\docs\\b.txt");
    k.GetFullPathNameW(L"d:/docs/sub/", MAX_PATH, out, nullptr);
    EXPECT_STREQ(out, L"D:\\docs\\sub\\");
    k.GetFullPathNameW(L"\\top", MAX_PATH, out, nullptr);
    EXPECT_STREQ(out, L"D:\\top");
    k.GetFullPathNameW(L"C:rel", MAX_PATH, out, nullptr);
    EXPECT_STREQ(out, L"C:\\rel");
    k.GetFullPathNameW(L"\\\\srv\\share\\a\\..\\b", MAX_PATH, out, nullptr);
    EXPECT_STREQ(out, L"\\\\srv\\share\\b");
    // Too small a buffer: the size needed, terminator included, and nothing written.
    wchar_t small[4] = {L'#', L'#', L'#', L'#'};
    EXPECT_EQ(k.GetFullPathNameW(L"D:\\docs", 4, small, nullptr), 8u);
    EXPECT_EQ(small[0], L'#');
    EXPECT_EQ(k.GetFullPathNameW(L"", MAX_PATH, out, nullptr), 0u);
    EXPECT_FALSE(k.SetCurrentDirectoryW(L"D:\\docs\\a.txt"));
    EXPECT_EQ(volumes.CurrentDirectory(), L"D:\\docs");
}

TEST_F(FakeVolumeSetTest, SearchGivesDotEntriesExceptAtADriveRoot) {
    EXPECT_EQ(List(L"D:\\docs\\*.*"), (std::vector<std::wstring>{L".", L"..", L"a.txt"}));
    EXPECT_EQ(List(L"D:\\*.*"), (std::vector<std::wstring>{L"docs"}));
    EXPECT_EQ(List(L"D:\\docs\\*.doc"), std::vector<std::wstring>{});
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(List(L"D:\\nothing\\*.*"), std::vector<std::wstring>{});
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(List(L"D:\\DOCS\\A.TXT"), (std::vector<std::wstring>{L"a.txt"}));
    EXPECT_EQ(List(L"D:\\docs\\"), std::vector<std::wstring>{});
}

TEST_F(FakeVolumeSetTest, ShareModesDecideWhetherASecondOpenSucceeds) {
    HANDLE exclusive = k.CreateFileW(L"D:\\docs\\a.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(k.CreateFileW(L"D:\\docs\\a.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // A query-only open touches no data and passes.
    HANDLE query = k.CreateFileW(L"D:\\docs\\a.txt", 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(query, INVALID_HANDLE_VALUE);
    EXPECT_EQ(volumes.OpenHandles(), 2);
    k.CloseHandle(query);
    k.CloseHandle(exclusive);
    // Folders open only with backup semantics.
    EXPECT_EQ(k.CreateFileW(L"D:\\docs", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FakeVolumeSetTest, HardLinksShareOneRecord) {
    ASSERT_TRUE(k.CreateHardLinkW(L"D:\\b.txt", L"D:\\docs\\a.txt", nullptr));
    EXPECT_EQ(volumes.LinkCount(L"D:\\b.txt"), 2);
    BY_HANDLE_FILE_INFORMATION one, two;
    HANDLE h1 = k.CreateFileW(L"D:\\b.txt", 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE h2 = k.CreateFileW(L"D:\\docs\\a.txt", 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(k.GetFileInformationByHandle(h1, &one));
    ASSERT_TRUE(k.GetFileInformationByHandle(h2, &two));
    k.CloseHandle(h1);
    k.CloseHandle(h2);
    EXPECT_EQ(one.nFileIndexLow, two.nFileIndexLow);
    EXPECT_EQ(one.nNumberOfLinks, 2u);
    EXPECT_FALSE(k.CreateHardLinkW(L"D:\\b.txt", L"D:\\docs\\a.txt", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(k.CreateHardLinkW(L"C:\\b.txt", L"D:\\docs\\a.txt", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
    EXPECT_FALSE(k.CreateHardLinkW(L"D:\\d2", L"D:\\docs", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(k.DeleteFileW(L"D:\\b.txt"));
    EXPECT_EQ(volumes.LinkCount(L"D:\\docs\\a.txt"), 1);
}

TEST_F(FakeVolumeSetTest, NamedStreamsLiveOnNtfsFilesAndFolders) {
    HANDLE stream = k.CreateFileW(L"D:\\docs\\a.txt:note", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(stream, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    k.WriteFile(stream, "abc", 3, &written, nullptr);
    k.CloseHandle(stream);
    stream = k.CreateFileW(L"D:\\docs\\a.txt:note:$DATA", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(stream, INVALID_HANDLE_VALUE);
    EXPECT_EQ(k.GetFileSize(stream, nullptr), 3u);
    k.CloseHandle(stream);
    volumes.MakeStream(L"D:\\docs", L"folderNote", "x");
    EXPECT_EQ(volumes.StreamNames(L"D:\\docs"), std::vector<std::wstring>{L"folderNote"});
    EXPECT_TRUE(k.DeleteFileW(L"D:\\docs\\a.txt:note"));
    EXPECT_TRUE(volumes.StreamNames(L"D:\\docs\\a.txt").empty());
    volumes.MakeFile(L"F:\\plain.txt");
    EXPECT_EQ(k.CreateFileW(L"F:\\plain.txt:s", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST_F(FakeVolumeSetTest, ReparseRequestsFollowTheRulesOfARealVolume) {
    volumes.MakeFolder(L"D:\\j");
    volumes.MakeFolder(L"D:\\full");
    volumes.MakeFile(L"D:\\full\\x");
    std::vector<uint8_t> record(28, 0);
    auto* r = reinterpret_cast<MountPointRecord*>(record.data());
    r->reparseTag = kMountPointTag;
    r->reparseDataLength = 20;
    r->substituteNameLength = 8;
    r->printNameOffset = 10;
    std::memcpy(record.data() + 16, L"\\??\\", 8);
    auto open = [&](const wchar_t* path, DWORD access) {
        return k.CreateFileW(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    DWORD bytes = 0;
    HANDLE full = open(L"D:\\full", GENERIC_WRITE);
    EXPECT_FALSE(k.DeviceIoControl(full, kFsctlSetReparsePoint, record.data(), 28, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    k.CloseHandle(full);
    HANDLE readOnly = open(L"D:\\j", GENERIC_READ);
    EXPECT_FALSE(k.DeviceIoControl(readOnly, kFsctlSetReparsePoint, record.data(), 28, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    BYTE out[64];
    EXPECT_FALSE(k.DeviceIoControl(readOnly, kFsctlGetReparsePoint, nullptr, 0, out, 64, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_A_REPARSE_POINT));
    k.CloseHandle(readOnly);
    HANDLE j = open(L"D:\\j", GENERIC_WRITE);
    EXPECT_FALSE(k.DeviceIoControl(j, kFsctlSetReparsePoint, record.data(), 27, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_REPARSE_DATA));
    EXPECT_TRUE(k.DeviceIoControl(j, kFsctlSetReparsePoint, record.data(), 28, nullptr, 0, &bytes, nullptr));
    EXPECT_TRUE(volumes.Attributes(L"D:\\j") & FILE_ATTRIBUTE_REPARSE_POINT);
    DWORD otherTag[2] = {0x8000001B, 0};
    EXPECT_FALSE(k.DeviceIoControl(j, kFsctlDeleteReparsePoint, otherTag, 8, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REPARSE_TAG_MISMATCH));
    DWORD header[2] = {kMountPointTag, 0};
    EXPECT_TRUE(k.DeviceIoControl(j, kFsctlDeleteReparsePoint, header, 8, nullptr, 0, &bytes, nullptr));
    EXPECT_FALSE(k.DeviceIoControl(j, kFsctlDeleteReparsePoint, header, 8, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_A_REPARSE_POINT));
    k.CloseHandle(j);
}

TEST_F(FakeVolumeSetTest, PathsPassThroughJunctionsAndMountedVolumes) {
    std::wstring hidden = volumes.AddUnletteredVolume();
    volumes.MakeJunction(L"D:\\link", L"D:\\docs");
    volumes.MakeMount(L"D:\\mnt", hidden);
    volumes.MakeFile(L"D:\\mnt\\onHidden.txt");
    EXPECT_EQ(List(L"D:\\link\\*.txt"), std::vector<std::wstring>{L"a.txt"});
    EXPECT_EQ(List(L"D:\\mnt\\*.*"), std::vector<std::wstring>{L"onHidden.txt"});
    EXPECT_EQ(List(L"D:\\link"), std::vector<std::wstring>{L"link"});
    EXPECT_TRUE(k.GetFileAttributesW(L"D:\\link") & FILE_ATTRIBUTE_REPARSE_POINT);
    wchar_t name[MAX_PATH];
    ASSERT_TRUE(k.GetVolumeNameForVolumeMountPointW(L"D:\\mnt\\", name, MAX_PATH));
    EXPECT_EQ(std::wstring(name), hidden);
    ASSERT_TRUE(k.GetVolumeNameForVolumeMountPointW(L"D:\\", name, MAX_PATH));
    EXPECT_EQ(std::wstring(name), dGuid);
    EXPECT_FALSE(k.GetVolumeNameForVolumeMountPointW(L"D:", name, MAX_PATH));
    EXPECT_FALSE(k.GetVolumeNameForVolumeMountPointW(L"D:\\link\\", name, MAX_PATH));
    // A share's junction is resolved by the server: its S: is the share, our D: it does not know.
    volumes.AddShare(L"\\\\srv\\share");
    volumes.MakeFolder(L"\\\\srv\\share\\docs");
    volumes.MakeJunction(L"\\\\srv\\share\\own", L"S:\\docs");
    volumes.MakeJunction(L"\\\\srv\\share\\ours", L"D:\\docs");
    EXPECT_EQ(List(L"\\\\srv\\share\\own\\*"), (std::vector<std::wstring>{L".", L".."}));
    EXPECT_EQ(k.GetFileAttributesW(L"\\\\srv\\share\\ours\\a.txt"), INVALID_FILE_ATTRIBUTES);
    // Junctions that lead into each other end with an error, not a hang.
    volumes.MakeFolder(L"D:\\p");
    volumes.MakeFolder(L"D:\\q");
    volumes.MakeJunction(L"D:\\p", L"D:\\q");
    volumes.MakeJunction(L"D:\\q", L"D:\\p");
    EXPECT_EQ(k.GetFileAttributesW(L"D:\\p\\x"), INVALID_FILE_ATTRIBUTES);
}

// Records laid out as Windows writes them: print name first, the flags after the names' fields.
TEST_F(FakeVolumeSetTest, SymbolicLinksKeepTheirTargetAsWindowsDoes) {
    volumes.AddShare(L"\\\\srv\\s");
    volumes.MakeFile(L"\\\\srv\\s\\far.txt");
    volumes.MakeFolder(L"D:\\links");
    const struct { const char* name; const wchar_t *link, *target, *opens; DWORD flags; const wchar_t *substitute, *print; uint32_t relative; } rows[] = {
        {"absolute", L"D:\\links\\abs", L"D:\\docs\\a.txt", L"D:\\links\\abs", 0, L"\\??\\D:\\docs\\a.txt", L"D:\\docs\\a.txt", 0},
        {"\\\\?\\ form", L"\\\\?\\D:\\links\\long", L"\\\\?\\D:\\docs\\a.txt", L"D:\\links\\long", 0x2, L"\\??\\D:\\docs\\a.txt", L"D:\\docs\\a.txt", 0},
        {"share", L"D:\\links\\unc", L"\\\\srv\\s\\far.txt", L"D:\\links\\unc", 0, L"\\??\\UNC\\srv\\s\\far.txt", L"\\\\srv\\s\\far.txt", 0},
        {"relative", L"D:\\links\\rel", L"..\\docs\\a.txt", L"D:\\links\\rel", 0, L"..\\docs\\a.txt", L"..\\docs\\a.txt", 1},
        {"relative folder", L"D:\\links\\dir", L"..\\docs", L"D:\\links\\dir\\a.txt", 0x1, L"..\\docs", L"..\\docs", 1},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(k.CreateSymbolicLinkW(row.link, row.target, row.flags)) << row.name;
        std::vector<uint8_t> data = volumes.ReparseData(row.link);
        const auto* record = reinterpret_cast<const MountPointRecord*>(data.data());
        auto name = [&](uint16_t offset, uint16_t length) { return std::wstring(reinterpret_cast<const wchar_t*>(data.data() + 20 + offset), length / 2); };
        EXPECT_EQ(record->reparseTag, kSymbolicLinkTag) << row.name;
        EXPECT_EQ(record->printNameOffset, 0) << row.name;
        EXPECT_EQ(name(record->substituteNameOffset, record->substituteNameLength), row.substitute) << row.name;
        EXPECT_EQ(name(record->printNameOffset, record->printNameLength), row.print) << row.name;
        EXPECT_EQ(data[16], row.relative) << row.name;
        EXPECT_EQ(volumes.Attributes(row.link) & FILE_ATTRIBUTE_DIRECTORY, (row.flags & 1) ? FILE_ATTRIBUTE_DIRECTORY : 0u) << row.name;
        ScopedHandle opened(k.CreateFileW(row.opens, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(opened.Valid()) << row.name << ": the link does not lead to its target";
    }
    // Moving the common folder keeps a relative link working.
    ASSERT_TRUE(k.MoveFileExW(L"D:\\links", L"D:\\docs\\moved", 0));
    EXPECT_NE(k.GetFileAttributesW(L"D:\\docs\\moved\\rel"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(k.GetFileAttributesW(L"D:\\docs\\moved\\rel\\x"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FakeVolumeSetTest, MountManagerMountsAnEmptyNtfsFolderOnly) {
    std::wstring fGuid;
    wchar_t name[MAX_PATH];
    ASSERT_TRUE(k.GetVolumeNameForVolumeMountPointW(L"F:\\", name, MAX_PATH));
    fGuid = name;
    volumes.MakeFolder(L"D:\\m");
    EXPECT_FALSE(k.SetVolumeMountPointW(L"D:\\docs\\", fGuid.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(k.SetVolumeMountPointW(L"D:\\m", fGuid.c_str()));
    ASSERT_TRUE(k.SetVolumeMountPointW(L"D:\\m\\", fGuid.c_str()));
    volumes.MakeFolder(L"F:\\onF");
    EXPECT_TRUE(volumes.Exists(L"D:\\m\\onF"));
    volumes.MakeFolder(L"F:\\m2");
    EXPECT_FALSE(k.SetVolumeMountPointW(L"F:\\m2\\", dGuid.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
}

TEST_F(FakeVolumeSetTest, VolumeQueriesKnowFileSystemsAndReadiness) {
    volumes.AddVolume(L'A', VolumeOptions{L"FAT", false});
    wchar_t fs[64];
    ASSERT_TRUE(k.GetVolumeInformationW(L"F:\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 64));
    EXPECT_STREQ(fs, L"FAT");
    EXPECT_FALSE(k.GetVolumeInformationW(L"D:", nullptr, 0, nullptr, nullptr, nullptr, fs, 64));
    EXPECT_FALSE(k.GetVolumeInformationW(L"D:\\docs\\", nullptr, 0, nullptr, nullptr, nullptr, fs, 64));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_ROOT));
    DWORD previous = 0;
    ASSERT_TRUE(k.SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous));
    EXPECT_FALSE(k.GetDiskFreeSpaceExW(L"A:\\", nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    k.SetThreadErrorMode(previous, nullptr);
    EXPECT_EQ(volumes.CriticalErrorDialogs(), 0);
    wchar_t drives[MAX_PATH];
    DWORD length = k.GetLogicalDriveStringsW(MAX_PATH, drives);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(std::wstring(drives, 16), std::wstring(L"A:\\\0C:\\\0D:\\\0F:\\\0", 16));
    EXPECT_EQ(k.GetLogicalDriveStringsW(4, drives), 17u);
}

TEST_F(FakeVolumeSetTest, BackupWalkDeliversDataThenNamedStreams) {
    volumes.MakeStream(L"D:\\docs\\a.txt", L"s1", "12345");
    HANDLE file = k.CreateFileW(L"D:\\docs\\a.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    void* context = nullptr;
    BYTE header[24] = {};
    DWORD read = 0, low = 0, high = 0;
    ASSERT_TRUE(k.BackupRead(file, header, 20, &read, FALSE, FALSE, &context));
    EXPECT_EQ(read, 20u);
    auto* id = reinterpret_cast<WIN32_STREAM_ID*>(header);
    EXPECT_EQ(id->dwStreamId, static_cast<DWORD>(BACKUP_DATA));
    EXPECT_EQ(id->Size.QuadPart, 5);
    EXPECT_EQ(volumes.LiveBlocks(), 1);
    EXPECT_FALSE(k.BackupSeek(file, 6, 0, &low, &high, &context)); // past the stream's end
    EXPECT_EQ(low, 5u);
    ASSERT_TRUE(k.BackupRead(file, header, 20, &read, FALSE, FALSE, &context));
    EXPECT_EQ(id->dwStreamId, static_cast<DWORD>(BACKUP_ALTERNATE_DATA));
    EXPECT_EQ(id->dwStreamNameSize, 18u);
    EXPECT_FALSE(k.BackupSeek(file, 1, 0, &low, &high, &context)); // the name is not data
    wchar_t name[16] = {};
    ASSERT_TRUE(k.BackupRead(file, reinterpret_cast<BYTE*>(name), 18, &read, FALSE, FALSE, &context));
    EXPECT_STREQ(name, L":s1:$DATA");
    EXPECT_TRUE(k.BackupSeek(file, 5, 0, &low, &high, &context));
    ASSERT_TRUE(k.BackupRead(file, header, 20, &read, FALSE, FALSE, &context));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(k.BackupRead(file, nullptr, 0, &read, TRUE, FALSE, &context));
    EXPECT_EQ(context, nullptr);
    k.CloseHandle(file);
}

TEST_F(FakeVolumeSetTest, AccountingCountsAndFailsOnRequest) {
    HGLOBAL block = k.GlobalAlloc(GPTR, 16);
    EXPECT_EQ(volumes.LiveBlocks(), 1);
    k.GlobalFree(block);
    volumes.FailAllocationAt(2);
    HGLOBAL first = k.GlobalAlloc(GPTR, 8);
    EXPECT_EQ(k.GlobalAlloc(GPTR, 8), nullptr);
    EXPECT_TRUE(volumes.AllocationFailureHappened());
    k.GlobalFree(first);
    HANDLE event = k.CreateEventW(nullptr, TRUE, TRUE, nullptr);
    volumes.ResetEventAfterPolls(event, 2);
    EXPECT_EQ(k.WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(k.WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(k.WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(volumes.PollCount(event), 3);
    k.CloseHandle(event);
    EXPECT_FALSE(k.FindClose(reinterpret_cast<HANDLE>(0x7f000004)));
    EXPECT_EQ(volumes.TakeBadReleases(), 1);
}

} // namespace
} // namespace kestrune::testing
