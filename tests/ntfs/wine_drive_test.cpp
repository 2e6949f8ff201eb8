// The path and volume services on Wine's own drives, through the real kernel32.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "ntfs/paths.h"
#include "ntfs/volumes/volumes.h"

namespace kestrune {
namespace {

class WineDrive : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        folder = std::wstring(temp) + L"kestrune-paths-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        file = folder + L"\\report.txt";
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    void TearDown() override {
        DeleteFileW(link.c_str());
        DeleteFileW(file.c_str());
        RemoveDirectoryW((folder + L"\\sub").c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::wstring folder, file, link;
};

TEST_F(WineDrive, FileAndFolderQueries) {
    EXPECT_EQ(IsExistingFile(file.c_str()), 1);
    EXPECT_EQ(IsExistingFile(folder.c_str()), 0);
    EXPECT_EQ(IsExistingFolder(folder.c_str()), 1);
    EXPECT_EQ(IsExistingFolder((folder + L"\\").c_str()), 1);
    EXPECT_EQ(IsExistingFolder(L"C:"), 1);
    EXPECT_EQ(IsFolderEmpty(folder.c_str()), 0);
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
    EXPECT_EQ(IsFolderEmpty((folder + L"\\sub").c_str()), 1);
    EXPECT_EQ(IsAncestorPath(folder.c_str(), (folder + L"\\sub").c_str()), 1);
}

TEST_F(WineDrive, HardLinkCountsAreRealLinks) {
    EXPECT_EQ(GetHardLinkCount(file.c_str()), 1);
    link = folder + L"\\second.txt";
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), file.c_str(), nullptr));
    EXPECT_EQ(GetHardLinkCount(file.c_str()), 2);
    EXPECT_EQ(GetHardLinkCount(link.c_str()), 2);
    EXPECT_EQ(GetHardLinkCount(folder.c_str()), -1);
}

TEST_F(WineDrive, VolumeOfATempFileIsItsDrive) {
    wchar_t root[MAX_PATH];
    ASSERT_EQ(ResolveVolumeRoot(file.c_str(), root), 0);
    EXPECT_EQ(root[0], folder[0]);
    EXPECT_STREQ(root + 1, L":\\");
    EXPECT_EQ(IsSameVolume(file.c_str(), (folder + L"\\sub\\dummy.tmp").c_str()), 1);
    wchar_t fileSystem[64] = {};
    std::wstring driveRoot(root);
    if (GetVolumeInformationW(driveRoot.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem, 64))
        EXPECT_EQ(IsNTFSVolume(file.c_str()), wcscmp(fileSystem, L"NTFS") == 0 ? 1 : 0);
    EXPECT_EQ(GetReparseTarget(folder.c_str(), root), -1);
}

// The critical-error guard is per thread: the host's process-wide mode never changes, not even
// for a moment while queries run on two threads at once.
TEST_F(WineDrive, QueriesLeaveTheHostsErrorModeAlone) {
    UINT host = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    std::atomic<bool> running{true};
    std::atomic<int> changes{0};
    std::thread watcher([&] {
        while (running)
            if (GetErrorMode() != SEM_NOOPENFILEERRORBOX) ++changes;
    });
    auto queries = [&] {
        for (int i = 0; i < 1000; ++i) {
            IsExistingFolder(folder.c_str());
            IsNTFSVolume(file.c_str());
        }
    };
    std::thread first(queries), second(queries);
    first.join();
    second.join();
    running = false;
    watcher.join();
    EXPECT_EQ(GetErrorMode(), static_cast<UINT>(SEM_NOOPENFILEERRORBOX));
    EXPECT_EQ(changes, 0);
    SetErrorMode(host);
}

} // namespace
} // namespace kestrune
