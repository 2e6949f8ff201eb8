// Hard-link enumeration through the real kernel32 on small real drives: K:, a scratch folder that
// Wine maps as a drive, and N:, an ntfs-3g volume where the machine can mount one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/links/hardlinks.h"
#include "ntfs/paths.h"
#include "ntfs/volumes/volumes.h"

namespace kestrune {
namespace {

bool DriveReady(const wchar_t* root) { return GetFileAttributesW(root) != INVALID_FILE_ATTRIBUTES; }

void MakeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create a file on the test drive";
    DWORD written = 0;
    WriteFile(file, "data", 4, &written, nullptr);
    CloseHandle(file);
}

std::wstring Enumerate(const std::wstring& path, int expected) {
    std::vector<wchar_t> text(8 * MAX_PATH);
    EXPECT_EQ(EnumerateHardLinks(path.c_str(), text.data(), text.size(), nullptr), expected);
    return text.data();
}

// The same small tree on either drive: a file with three links in order-sensitive places.
void EnumerateOn(const std::wstring& drive) {
    std::wstring top = drive + L"kestrune-links";
    CreateDirectoryW(top.c_str(), nullptr);
    CreateDirectoryW((top + L"\\a").c_str(), nullptr);
    CreateDirectoryW((top + L"\\a\\b").c_str(), nullptr);
    CreateDirectoryW((top + L"\\.hidden").c_str(), nullptr);
    MakeFile(top + L"\\z.txt");
    MakeFile(top + L"\\other.txt");
    ASSERT_TRUE(CreateHardLinkW((top + L"\\a\\d.txt").c_str(), (top + L"\\z.txt").c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkW((top + L"\\a\\b\\c.txt").c_str(), (top + L"\\z.txt").c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkW((top + L"\\.hidden\\x.txt").c_str(), (top + L"\\z.txt").c_str(), nullptr));
    EXPECT_EQ(GetHardLinkCount((top + L"\\z.txt").c_str()), 4);
    EXPECT_EQ(Enumerate(top + L"\\a\\b\\c.txt", 4), top + L"\\z.txt\r\n" + top + L"\\.hidden\\x.txt\r\n" + top +
                                                    L"\\a\\d.txt\r\n" + top + L"\\a\\b\\c.txt\r\n");
    EXPECT_EQ(Enumerate(top + L"\\other.txt", 1), top + L"\\other.txt\r\n");
    EXPECT_EQ(Enumerate(top, -1), L"");
    for (const wchar_t* name : {L"\\.hidden\\x.txt", L"\\a\\b\\c.txt", L"\\a\\d.txt", L"\\z.txt", L"\\other.txt"})
        DeleteFileW((top + name).c_str());
    for (const wchar_t* name : {L"\\.hidden", L"\\a\\b", L"\\a", L""}) RemoveDirectoryW((top + name).c_str());
}

TEST(RealVolume, EnumerationOnAScratchWineDrive) {
    if (!DriveReady(L"K:\\")) GTEST_SKIP() << "drive K: (the scratch folder) is not mapped";
    if (!IsNTFSVolume(L"K:\\x")) GTEST_SKIP() << "Wine does not report K: as NTFS";
    EnumerateOn(L"K:\\");
}

TEST(RealVolume, EnumerationOnAnNtfs3gVolume) {
    if (!DriveReady(L"N:\\")) GTEST_SKIP() << "no ntfs-3g volume: FUSE, mkntfs or ntfs-3g is missing here";
    ASSERT_EQ(IsNTFSVolume(L"N:\\x"), 1);
    EnumerateOn(L"N:\\");
}

TEST(RealVolume, Ntfs3gStreamsAreReachableByTheirPaths) {
    if (!DriveReady(L"N:\\")) GTEST_SKIP() << "no ntfs-3g volume: FUSE, mkntfs or ntfs-3g is missing here";
    std::wstring file = L"N:\\streams.txt";
    MakeFile(file);
    MakeFile(file + L":note");
    // A named stream lives in the file: the directory shows no second file.
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(L"N:\\streams.txt*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FindNextFileW(search, &data));
    FindClose(search);
    HANDLE stream = CreateFileW((file + L":note").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(stream, INVALID_HANDLE_VALUE);
    char content[8] = {};
    DWORD read = 0;
    ReadFile(stream, content, sizeof content, &read, nullptr);
    CloseHandle(stream);
    EXPECT_EQ(std::string(content, read), "data");
    EXPECT_EQ(GetHardLinkCount(file.c_str()), 1);
    EXPECT_TRUE(DeleteFileW((file + L":note").c_str()));
    DeleteFileW(file.c_str());
}

} // namespace
} // namespace kestrune
