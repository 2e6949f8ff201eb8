// Hard-link enumeration on the test volumes: scan order, what is entered, stops and failures.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ntfs/hardlinks.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

std::vector<std::wstring> Names(const ScanNode* list) {
    std::vector<std::wstring> names;
    for (; list; list = list->next) names.push_back(list->name);
    return names;
}

std::vector<std::wstring> Paths(const ScanNode* list) {
    std::vector<std::wstring> paths;
    for (; list; list = list->next) paths.push_back(std::wstring(list->folder) + list->name);
    return paths;
}

class HardLinkScan : public LeakCheckedTest {
protected:
    HardLinkScan() {
        volumes.AddVolume(L'D');
        volumes.AddVolume(L'E');
    }
    std::wstring Enumerate(const wchar_t* path, int expected, HANDLE event = nullptr, size_t chars = 8 * MAX_PATH) {
        std::vector<wchar_t> text(chars + 4, L'~');
        text[chars] = 0xFDFD;
        EXPECT_EQ(EnumerateHardLinks(path, text.data(), chars, event), expected) << Narrow(path);
        EXPECT_EQ(text[chars], 0xFDFD) << "written past the text buffer";
        return expected >= 0 ? std::wstring(text.data()) : L"";
    }
};

TEST_F(HardLinkScan, FoldersComeFirstAndNamesIgnoreCase) {
    volumes.MakeFolder(L"D:\\top");
    for (const wchar_t* name : {L"c.txt", L"B.txt", L"a.TXT", L"b.log"}) volumes.MakeFile(std::wstring(L"D:\\top\\") + name);
    volumes.MakeFolder(L"D:\\top\\Z");
    volumes.MakeFolder(L"D:\\top\\a");
    volumes.MakeFolder(L"D:\\top\\.hidden");
    ScanNode* list = ScanFolderTree(L"D:\\top", L"*.*", 0, nullptr);
    EXPECT_EQ(Names(list), (std::vector<std::wstring>{L"a", L"Z", L"a.TXT", L"b.log", L"B.txt", L"c.txt"}));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->previous, nullptr);
    EXPECT_STREQ(list->folder, L"D:\\top\\");
    EXPECT_EQ(list->kind, kScanFolder);
    EXPECT_EQ(list->child, nullptr); // not recursing
    FreeScanTree(list);
}

TEST_F(HardLinkScan, NamesAreOrderedByTheScanNotByTheVolume) {
    // NTFS lists "ab" before "a_b" (ordinal, '_' after the letters); the scan orders as lstrcmpiW does.
    volumes.MakeFolder(L"D:\\n");
    volumes.MakeFile(L"D:\\n\\ab");
    volumes.MakeFile(L"D:\\n\\a_b");
    ScanNode* list = ScanFolderTree(L"D:\\n", L"*.*", 0, nullptr);
    EXPECT_EQ(Names(list), (std::vector<std::wstring>{L"a_b", L"ab"}));
    FreeScanTree(list);
    // FAT lists in creation order.
    volumes.AddVolume(L'F', VolumeOptions{L"FAT"});
    for (const wchar_t* name : {L"z.txt", L"M.txt", L"a.txt", L"m.TXT2"}) volumes.MakeFile(std::wstring(L"F:\\") + name);
    volumes.MakeFolder(L"F:\\Zed");
    volumes.MakeFolder(L"F:\\alpha");
    list = ScanFolderTree(L"F:\\", L"*.*", 1, nullptr);
    EXPECT_EQ(Names(list), (std::vector<std::wstring>{L"alpha", L"Zed", L"a.txt", L"M.txt", L"m.TXT2", L"z.txt"}));
    FreeScanTree(list);
}

TEST_F(HardLinkScan, PatternsAreBoundedAndEachMatchMakesANode) {
    volumes.MakeFolder(L"D:\\p");
    volumes.MakeFile(L"D:\\p\\x.txt");
    volumes.MakeFile(L"D:\\p\\y.log");
    ScanNode* list = ScanFolderTree(L"D:\\p\\", L"*.txt;x.*;;*.log", 0, nullptr);
    EXPECT_EQ(Names(list), (std::vector<std::wstring>{L"x.txt", L"x.txt", L"y.log"}));
    FreeScanTree(list);
    // A pattern over 20 characters is refused; only the first ten patterns count.
    list = ScanFolderTree(L"D:\\p", L"*.logxxxxxxxxxxxxxxxxxxxxx;x.txt", 0, nullptr);
    EXPECT_EQ(Names(list), std::vector<std::wstring>{L"x.txt"});
    FreeScanTree(list);
    list = ScanFolderTree(L"D:\\p", L"1;2;3;4;5;6;7;8;9;10;*.txt", 0, nullptr);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(ScanFolderTree(L"D:\\p\\x.txt", L"*.*", 1, nullptr), nullptr);
    EXPECT_EQ(ScanFolderTree(L"D:\\none", L"*.*", 1, nullptr), nullptr);
}

TEST_F(HardLinkScan, FlatOrderIsOwnFilesThenEachSubfolderInTurn) {
    volumes.MakeFolder(L"D:\\a");
    volumes.MakeFolder(L"D:\\a\\b");
    volumes.MakeFile(L"D:\\a\\b\\c.txt");
    volumes.MakeFile(L"D:\\a\\d.txt");
    volumes.MakeFile(L"D:\\z.txt");
    volumes.MakeFolder(L"D:\\empty");
    ScanNode* flat = FlattenFileList(ScanFolderTree(L"D:\\", L"*.*", 1, nullptr), nullptr);
    EXPECT_EQ(Paths(flat), (std::vector<std::wstring>{L"D:\\z.txt", L"D:\\a\\d.txt", L"D:\\a\\b\\c.txt"}));
    for (const ScanNode* node = flat; node; node = node->next) {
        EXPECT_EQ(node->kind, kScanFile);
        if (node->next) EXPECT_EQ(node->next->previous, node);
    }
    FreeScanTree(flat);
    EXPECT_EQ(FlattenFileList(nullptr, nullptr), nullptr);
}

TEST_F(HardLinkScan, EveryLinkOfAFileIsListed) {
    volumes.MakeFolder(L"D:\\a");
    volumes.MakeFolder(L"D:\\b");
    volumes.MakeFile(L"D:\\a\\x.txt", "data");
    volumes.MakeFile(L"D:\\a\\other.txt");
    volumes.MakeLink(L"D:\\a\\x.txt", L"D:\\b\\y.txt");
    EXPECT_EQ(Enumerate(L"D:\\a\\x.txt", 2), L"D:\\a\\x.txt\r\nD:\\b\\y.txt\r\n");
    EXPECT_EQ(Enumerate(L"D:\\b\\y.txt", 2), L"D:\\a\\x.txt\r\nD:\\b\\y.txt\r\n");
    EXPECT_EQ(Enumerate(L"D:\\a\\other.txt", 1), L"D:\\a\\other.txt\r\n");
    Enumerate(L"D:\\a", -1);
    Enumerate(L"D:\\a\\missing.txt", -1);
}

TEST_F(HardLinkScan, HiddenSystemAndReadOnlyFilesAreFound) {
    volumes.MakeFolder(L"D:\\$Recycle.Bin");
    volumes.MakeFile(L"D:\\f.txt");
    volumes.MakeLink(L"D:\\f.txt", L"D:\\$Recycle.Bin\\$R1.txt");
    volumes.MakeLink(L"D:\\f.txt", L"D:\\sys.txt");
    volumes.AddAttributes(L"D:\\f.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
    volumes.AddAttributes(L"D:\\$Recycle.Bin", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(Enumerate(L"D:\\f.txt", 3), L"D:\\f.txt\r\nD:\\sys.txt\r\nD:\\$Recycle.Bin\\$R1.txt\r\n");
}

TEST_F(HardLinkScan, DotFoldersJunctionsAndMountsAreNotEntered) {
    volumes.MakeFile(L"D:\\f.txt");
    volumes.MakeFolder(L"D:\\.git");
    volumes.MakeLink(L"D:\\f.txt", L"D:\\.git\\copy.txt");
    volumes.MakeFolder(L"D:\\real");
    volumes.MakeLink(L"D:\\f.txt", L"D:\\real\\g.txt");
    volumes.MakeFolder(L"D:\\junction");
    volumes.MakeJunction(L"D:\\junction", L"D:\\real");
    std::wstring hidden = volumes.AddUnletteredVolume();
    volumes.MakeFolder(L"D:\\mnt");
    volumes.MakeMount(L"D:\\mnt", hidden);
    volumes.MakeFile(L"D:\\mnt\\onOther.txt");
    EXPECT_EQ(Enumerate(L"D:\\f.txt", 2), L"D:\\f.txt\r\nD:\\real\\g.txt\r\n");
    // Through the junction: the same file, found under its real paths only.
    EXPECT_EQ(Enumerate(L"D:\\junction\\g.txt", 2), L"D:\\f.txt\r\nD:\\real\\g.txt\r\n");
}

TEST_F(HardLinkScan, AFileOfAnotherVolumeWithTheSameIndexIsNeverListed) {
    volumes.MakeFile(L"D:\\sameIndexOnD.txt"); // first file of D: and of E: share their index
    volumes.MakeFile(L"E:\\onE.txt");
    volumes.MakeFolder(L"D:\\toE");
    volumes.MakeJunction(L"D:\\toE", L"E:\\");
    // Reached through D:, the file lies on E:; D:'s own file with that index must not be offered.
    EXPECT_EQ(Enumerate(L"D:\\toE\\onE.txt", 0), L"");
}

// A symbolic link reaches the file but is no link of it: the page would delete the symbolic link.
TEST_F(HardLinkScan, SymbolicLinksToTheFileAreNotListed) {
    volumes.MakeFile(L"D:\\a.txt");
    volumes.MakeLink(L"D:\\a.txt", L"D:\\b.txt");
    volumes.MakeSymbolicLink(L"D:\\aa.txt", L"D:\\a.txt");
    EXPECT_EQ(Enumerate(L"D:\\b.txt", 2, nullptr, 2 * MAX_PATH), L"D:\\a.txt\r\nD:\\b.txt\r\n");
}

TEST_F(HardLinkScan, UnreadableFoldersAndFilesArePassedOver) {
    volumes.MakeFile(L"D:\\f.txt");
    volumes.MakeFolder(L"D:\\locked");
    volumes.MakeLink(L"D:\\f.txt", L"D:\\locked\\in.txt");
    volumes.SetDenied(L"D:\\locked");
    volumes.MakeFolder(L"D:\\open");
    volumes.MakeLink(L"D:\\f.txt", L"D:\\open\\g.txt");
    volumes.MakeFile(L"D:\\open\\denied.txt");
    volumes.SetDenied(L"D:\\open\\denied.txt");
    EXPECT_EQ(Enumerate(L"D:\\f.txt", 2), L"D:\\f.txt\r\nD:\\open\\g.txt\r\n");
}

TEST_F(HardLinkScan, OverlongPathsAreSkippedAndTheTextNeverOverflows) {
    std::wstring deep = L"D:\\";
    while (deep.size() < 240) {
        deep += std::wstring(30, L'd') + L"\\";
        volumes.MakeFolder(deep);
    }
    volumes.MakeFile(L"D:\\f.txt");
    volumes.MakeLink(L"D:\\f.txt", deep + std::wstring(259 - deep.size(), L'n'));     // exactly 259: kept
    volumes.MakeLink(L"D:\\f.txt", deep + std::wstring(260 - deep.size(), L'o'));     // 260: passed over
    std::wstring text = Enumerate(L"D:\\f.txt", 2, nullptr, 2 * MAX_PATH + 8);
    EXPECT_EQ(text.size(), 8u + 2 + 259 + 2);
    // Sized for one link: the second path finds no room and is dropped, with nothing overrun.
    EXPECT_EQ(Enumerate(L"D:\\f.txt", 1, nullptr, MAX_PATH), L"D:\\f.txt\r\n");
    Enumerate(L"D:\\f.txt", 0, nullptr, 8);
    Enumerate(L"D:\\f.txt", -1, nullptr, 0);
}

TEST_F(HardLinkScan, StoppingAtAnyPollEndsCleanly) {
    volumes.MakeFolder(L"D:\\a");
    volumes.MakeFolder(L"D:\\a\\b");
    volumes.MakeFile(L"D:\\a\\b\\c.txt");
    volumes.MakeLink(L"D:\\a\\b\\c.txt", L"D:\\a\\d.txt");
    volumes.MakeFile(L"D:\\z.txt");
    HANDLE event = volumes.Api().CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(Enumerate(L"D:\\a\\d.txt", 2, event), L"D:\\a\\d.txt\r\nD:\\a\\b\\c.txt\r\n");
    int polls = volumes.PollCount(event);
    EXPECT_GT(polls, 10); // scan, flattening, comparison and the final check all poll
    for (int allowed = 0; allowed < polls; ++allowed) {
        volumes.ResetEventAfterPolls(event, allowed);
        Enumerate(L"D:\\a\\d.txt", -1, event);
        volumes.Api().SetEvent(event);
        ExpectNothingLeaked(("stop after poll " + std::to_string(allowed)).c_str(), 1);
    }
    volumes.ResetEventAfterPolls(event, polls);
    Enumerate(L"D:\\a\\d.txt", 2, event);
    volumes.Api().CloseHandle(event);
}

TEST_F(HardLinkScan, EveryAllocationFailureIsClean) {
    volumes.MakeFolder(L"D:\\a");
    volumes.MakeFolder(L"D:\\a\\b");
    volumes.MakeFile(L"D:\\a\\b\\c.txt");
    volumes.MakeLink(L"D:\\a\\b\\c.txt", L"D:\\z.txt");
    int paths = ForEachAllocationFailure([&](bool) {
        wchar_t text[4 * MAX_PATH];
        int count = EnumerateHardLinks(L"D:\\z.txt", text, 4 * MAX_PATH, nullptr);
        EXPECT_LE(count, 2);
    });
    EXPECT_GE(paths, 4);
}

TEST_F(HardLinkScan, TheProcessCurrentDirectoryIsLeftAlone) {
    volumes.MakeFolder(L"D:\\work");
    volumes.MakeFile(L"D:\\f.txt");
    ASSERT_TRUE(volumes.Api().SetCurrentDirectoryW(L"D:\\work"));
    Enumerate(L"D:\\f.txt", 1);
    EXPECT_EQ(volumes.CurrentDirectory(), L"D:\\work");
    // A relative path names the file in the current directory's folder.
    volumes.MakeFile(L"D:\\work\\rel.txt");
    EXPECT_EQ(Enumerate(L"rel.txt", 1), L"D:\\work\\rel.txt\r\n");
}

TEST_F(HardLinkScan, TwoEnumerationsAtOnceDoNotDisturbEachOther) {
    volumes.MakeFolder(L"D:\\a");
    volumes.MakeFolder(L"E:\\b");
    for (int i = 0; i < 200; ++i) {
        volumes.MakeFile(L"D:\\a\\f" + std::to_wstring(i));
        volumes.MakeFile(L"E:\\b\\g" + std::to_wstring(i));
    }
    volumes.MakeLink(L"D:\\a\\f7", L"D:\\seven");
    volumes.MakeLink(L"E:\\b\\g9", L"E:\\nine");
    ASSERT_TRUE(volumes.Api().SetCurrentDirectoryW(L"D:\\a"));
    std::wstring first, second;
    int firstCount = 0, secondCount = 0;
    auto enumerate = [](const wchar_t* path, std::wstring& text, int& count) {
        std::vector<wchar_t> buffer(4 * MAX_PATH);
        for (int round = 0; round < 5; ++round) count = EnumerateHardLinks(path, buffer.data(), buffer.size(), nullptr);
        text = buffer.data();
    };
    std::thread one(enumerate, L"D:\\seven", std::ref(first), std::ref(firstCount));
    std::thread two(enumerate, L"E:\\nine", std::ref(second), std::ref(secondCount));
    one.join();
    two.join();
    EXPECT_EQ(firstCount, 2);
    EXPECT_EQ(first, L"D:\\seven\r\nD:\\a\\f7\r\n");
    EXPECT_EQ(secondCount, 2);
    EXPECT_EQ(second, L"E:\\nine\r\nE:\\b\\g9\r\n");
    EXPECT_EQ(volumes.CurrentDirectory(), L"D:\\a");
}

TEST_F(HardLinkScan, OnlyNtfsVolumesAreSearched) {
    volumes.AddVolume(L'F', VolumeOptions{L"FAT"});
    volumes.MakeFile(L"F:\\f.txt");
    Enumerate(L"F:\\f.txt", -1);
    volumes.AddShare(L"\\\\srv\\share");
    volumes.MakeFile(L"\\\\srv\\share\\f.txt");
    Enumerate(L"\\\\srv\\share\\f.txt", -1);
}

} // namespace
} // namespace kestrune::testing
