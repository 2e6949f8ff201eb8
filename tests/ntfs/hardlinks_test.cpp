// Hard-link enumeration on the test volumes: scan order, what is entered, stops and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ntfs/links/hardlinks.h"
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
    // Runs `check` with each way of finding a file's links, named in its failures.
    template <typename Check> void EachWay(Check check) {
        for (const LinkWay& way : kLinkWays) {
            SCOPED_TRACE(way.name);
            volumes.Use(way);
            check();
        }
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

// "x." and "y " are names of their own, not "x" and "y".
TEST_F(HardLinkScan, NamesEndingInADotOrASpaceAreListedExactly) {
    volumes.MakeFolder(L"\\\\?\\D:\\a.");
    volumes.MakeFolder(L"D:\\a");
    volumes.MakeFile(L"\\\\?\\D:\\a.\\x.", "dot");
    volumes.MakeFile(L"D:\\a\\x", "plain");
    volumes.MakeLink(L"\\\\?\\D:\\a.\\x.", L"\\\\?\\D:\\a\\y ");
    EachWay([&] {
        EXPECT_EQ(Enumerate(L"\\\\?\\D:\\a.\\x.", 2), L"D:\\a\\y \r\nD:\\a.\\x.\r\n");
        EXPECT_EQ(Enumerate(L"D:\\a\\x", 1), L"D:\\a\\x\r\n");
    });
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

TEST_F(HardLinkScan, DotFoldersReparseFilesAndCloudFoldersCountButJunctionsAndMountsAreNotEntered) {
    volumes.MakeFile(L"D:\\f.txt");
    volumes.MakeFolder(L"D:\\.git");
    volumes.MakeLink(L"D:\\f.txt", L"D:\\.git\\copy.txt");
    volumes.MakeFile(L"D:\\.git\\dedup.bin"); // a deduplicated file is a file: its links are listed
    volumes.SetRawReparse(L"D:\\.git\\dedup.bin", {0x13, 0x00, 0x00, 0x80, 0, 0, 0, 0}); // 0x80000013
    volumes.MakeLink(L"D:\\.git\\dedup.bin", L"D:\\real2.bin");
    volumes.MakeFolder(L"D:\\real");
    volumes.MakeLink(L"D:\\f.txt", L"D:\\real\\g.txt");
    volumes.MakeJunction(L"D:\\junction", L"D:\\real");
    std::wstring hidden = volumes.AddUnletteredVolume();
    volumes.MakeMount(L"D:\\mnt", hidden);
    volumes.MakeFile(L"D:\\mnt\\onOther.txt");
    // A sync root: every folder a placeholder, served in place, and entered; a junction in it is not.
    volumes.MakeFolder(L"D:\\cloud");
    volumes.MakeFolder(L"D:\\cloud\\deep");
    volumes.MakeLink(L"D:\\f.txt", L"D:\\cloud\\h.txt");
    volumes.MakeLink(L"D:\\f.txt", L"D:\\cloud\\deep\\i.txt");
    volumes.MakeJunction(L"D:\\cloud\\j", L"D:\\real");
    volumes.MakeCloudSyncRoot(L"D:\\cloud");
    ScanNode* flat = FlattenFileList(ScanFolderTree(L"D:\\cloud", L"*.*", 1, nullptr), nullptr);
    EXPECT_EQ(Paths(flat), (std::vector<std::wstring>{L"D:\\cloud\\h.txt", L"D:\\cloud\\deep\\i.txt"}));
    FreeScanTree(flat);
    volumes.MakeFolder(L"E:\\.x");
    volumes.MakeFile(L"E:\\.x\\only.txt");
    EachWay([&] {
        EXPECT_EQ(Enumerate(L"E:\\.x\\only.txt", 1), L"E:\\.x\\only.txt\r\n");
        // Through the junction: the same file, found under its real paths only.
        for (const wchar_t* path : {L"D:\\f.txt", L"D:\\junction\\g.txt"})
            EXPECT_EQ(Enumerate(path, 5), L"D:\\f.txt\r\nD:\\.git\\copy.txt\r\nD:\\cloud\\h.txt\r\nD:\\cloud\\deep\\i.txt\r\nD:\\real\\g.txt\r\n");
        EXPECT_EQ(Enumerate(L"D:\\real2.bin", 2), L"D:\\real2.bin\r\nD:\\.git\\dedup.bin\r\n");
    });
}

TEST_F(HardLinkScan, AFileOfAnotherVolumeWithTheSameIndexIsNeverListed) {
    volumes.MakeFile(L"D:\\sameIndexOnD.txt"); // first file of D: and of E: share their index
    volumes.MakeFile(L"E:\\onE.txt");
    volumes.MakeJunction(L"D:\\toE", L"E:\\");
    // Reached through D:, the file lies on E: and is listed there; D:'s own file with that index
    // must not be offered.
    EXPECT_EQ(Enumerate(L"D:\\toE\\onE.txt", 1), L"E:\\onE.txt\r\n");
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
    EachWay([&] { EXPECT_EQ(Enumerate(L"D:\\f.txt", 2), L"D:\\f.txt\r\nD:\\open\\g.txt\r\n"); });
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
    EachWay([&] {
        std::wstring text = Enumerate(L"D:\\f.txt", 2, nullptr, 2 * MAX_PATH + 8);
        EXPECT_EQ(text.size(), 8u + 2 + 259 + 2);
        // Sized for one link: the second path finds no room and is dropped, with nothing overrun.
        EXPECT_EQ(Enumerate(L"D:\\f.txt", 1, nullptr, MAX_PATH), L"D:\\f.txt\r\n");
        Enumerate(L"D:\\f.txt", 0, nullptr, 8);
        Enumerate(L"D:\\f.txt", -1, nullptr, 0);
    });
}

TEST_F(HardLinkScan, StoppingAtAnyPollEndsCleanly) {
    volumes.MakeFolder(L"D:\\a");
    volumes.MakeFolder(L"D:\\a\\b");
    volumes.MakeFile(L"D:\\a\\b\\c.txt");
    volumes.MakeLink(L"D:\\a\\b\\c.txt", L"D:\\a\\d.txt");
    volumes.MakeFile(L"D:\\z.txt");
    HANDLE event = volumes.Api().CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EachWay([&] {
        volumes.ResetEventAfterPolls(event, 1000);
        EXPECT_EQ(Enumerate(L"D:\\a\\d.txt", 2, event), L"D:\\a\\d.txt\r\nD:\\a\\b\\c.txt\r\n");
        int polls = volumes.PollCount(event);
        EXPECT_GE(polls, 3); // names or folders, links, and the final check all poll
        for (int allowed = 0; allowed < polls; ++allowed) {
            volumes.ResetEventAfterPolls(event, allowed);
            Enumerate(L"D:\\a\\d.txt", -1, event);
            volumes.Api().SetEvent(event);
            ExpectNothingLeaked(("stop after poll " + std::to_string(allowed)).c_str(), 1);
        }
        volumes.ResetEventAfterPolls(event, polls);
        Enumerate(L"D:\\a\\d.txt", 2, event);
    });
    volumes.Api().CloseHandle(event);
}

TEST_F(HardLinkScan, EveryAllocationFailureIsClean) {
    volumes.MakeFolder(L"D:\\a");
    volumes.MakeFolder(L"D:\\a\\b");
    volumes.MakeFile(L"D:\\a\\b\\c.txt");
    volumes.MakeLink(L"D:\\a\\b\\c.txt", L"D:\\z.txt");
    volumes.MakeLink(L"D:\\a\\b\\c.txt", L"D:\\a\\b\\" + std::wstring(300, L'x')); // read only to pass over it
    EachWay([&] {
        int paths = ForEachAllocationFailure([&](bool) {
            wchar_t text[4 * MAX_PATH];
            int count = EnumerateHardLinks(L"D:\\z.txt", text, 4 * MAX_PATH, nullptr);
            EXPECT_LE(count, 2);
        });
        EXPECT_GE(paths, 3);
    });
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
    // A share answers from the server's names, or not at all: it is never walked.
    volumes.MakeLink(L"\\\\srv\\share\\f.txt", L"\\\\srv\\share\\g.txt");
    EXPECT_EQ(Enumerate(L"\\\\srv\\share\\f.txt", 2), L"\\\\srv\\share\\f.txt\r\n\\\\srv\\share\\g.txt\r\n");
    volumes.SetNameCallsPresent(false);
    volumes.ResetStats();
    Enumerate(L"\\\\srv\\share\\f.txt", kLinksOnNetworkDrive);
    EXPECT_EQ(volumes.Stats().findFirsts, 0);
}

// Opens: the file's own and its volume's, then one per link checked and per folder on its way, one per folder read,
// or one per file searched.
TEST_F(HardLinkScan, EachWayOpensOnlyWhatItMust) {
    VolumeOptions refusing, refusingLater;
    refusing.namesBeforeRefusal = 0;
    refusingLater.namesBeforeRefusal = 1;
    volumes.AddVolume(L'F', refusing);
    volumes.AddVolume(L'G', refusingLater);
    for (const wchar_t* drive : {L"D:\\", L"F:\\", L"G:\\"}) {
        std::wstring root = drive;
        volumes.MakeFolder(root + L"a");
        volumes.MakeFolder(root + L"a\\b");
        for (int i = 0; i < 20; ++i) volumes.MakeFile(root + L"a\\f" + std::to_wstring(i));
        volumes.MakeLink(root + L"a\\f3", root + L"a\\b\\g");
        volumes.MakeLink(root + L"a\\f3", root + L"h");
    }
    volumes.MakeFolder(L"F:\\empty");
    // F: refuses the names, G: the second one: their folders are read (F: has four).
    for (auto [drive, way, opens] : {std::tuple{L'D', 0, 2 + 3 + 3}, {L'D', 1, 2 + 3}, {L'D', 2, 2 + 3 + 22}, {L'F', 0, 2 + 4}, {L'G', 0, 2 + 3}}) {
        volumes.Use(kLinkWays[way]);
        volumes.ResetStats();
        std::wstring root = std::wstring(1, drive) + L":\\";
        EXPECT_EQ(Enumerate((root + L"h").c_str(), 3), root + L"h\r\n" + root + L"a\\f3\r\n" + root + L"a\\b\\g\r\n");
        EXPECT_EQ(volumes.Stats().fileOpens, opens) << kLinkWays[way].name;
    }
}

// Random trees: every way gives the same lines in the same order, and they are the file's paths the
// scan can reach (none of MAX_PATH characters or more).
TEST_F(HardLinkScan, EveryWayListsTheSameLinesOnRandomTrees) {
    std::mt19937 random(20261208);
    const wchar_t* parts[] = {L"a", L"B", L"_", L"-", L"\u00e9", L"z", L"Z", L"1", L"9", L"10", L"\u00c4", L"ab"};
    auto name = [&] { return std::wstring(parts[random() % 12]) + parts[random() % 12] + (random() % 2 ? parts[random() % 12] : L""); };
    std::wstring mounted = volumes.AddUnletteredVolume();
    std::vector<std::wstring> folders{L"D:\\", L"E:\\"}, targets;
    std::map<std::wstring, std::vector<std::wstring>> reachable;
    auto made = [&](const std::wstring& file, const std::wstring& path) {
        if (path.size() < MAX_PATH) reachable[file].push_back(path + L"\r\n");
    };
    auto folderOn = [&](wchar_t drive) {
        for (;;)
            if (const std::wstring& folder = folders[random() % folders.size()]; folder[0] == drive) return folder;
    };
    for (int i = 0; i < 80; ++i) {
        std::wstring folder = folderOn(i % 2 ? L'D' : L'E') + (random() % 10 ? L"" : L".") + name() + L"\\";
        if (!volumes.Exists(folder)) volumes.MakeFolder(folder);
        folders.push_back(folder); // a folder picked twice counts twice
    }
    // Folders whose paths end at 255 to 259 characters, and one far beyond MAX_PATH.
    std::wstring deep = L"D:\\" + std::wstring(200, L'l') + L"\\";
    volumes.MakeFolder(deep);
    std::vector<std::wstring> deepFolders{deep + std::wstring(100, L'o') + L"\\"};
    for (size_t length = 255; length <= 259; ++length) deepFolders.push_back(deep + std::wstring(length - 205, L'n') + L"\\");
    for (const std::wstring& folder : deepFolders) volumes.MakeFolder(folder);
    for (const wchar_t* junction : {L"D:\\j", L"D:\\toE", L"D:\\mnt"}) volumes.MakeFolder(junction);
    volumes.MakeJunction(L"D:\\j", folderOn(L'D'));
    volumes.MakeJunction(L"D:\\toE", L"E:\\");
    volumes.MakeMount(L"D:\\mnt", mounted);
    volumes.MakeFile(L"D:\\mnt\\same index as D's first");
    for (int i = 0; i < 60; ++i) {
        std::wstring folder = i % 4 ? folders[random() % folders.size()] : deepFolders[random() % 6];
        std::wstring file = folder + name() + L".t";
        if (file.size() >= MAX_PATH || volumes.Exists(file)) continue;
        volumes.MakeFile(file);
        targets.push_back(file);
        made(file, file);
        for (unsigned k = random() % 5; k > 0; --k) {
            std::wstring link = (random() % 3 ? folderOn(file[0]) : random() % 2 ? folder : deepFolders[random() % 6]) + name() + L".l";
            if (link[0] == file[0] && !volumes.Exists(link)) volumes.MakeLink(file, link), made(file, link);
        }
    }
    // D: is read partly by search: its root and some folders refuse the id listing.
    for (const std::wstring& folder : folders)
        if (folder[0] == L'D' && (folder.size() == 3 || random() % 3 == 0)) volumes.RefuseIdListing(folder);
    for (const std::wstring& target : targets) {
        std::vector<std::wstring> results;
        for (const LinkWay& way : kLinkWays) {
            volumes.Use(way);
            std::vector<wchar_t> text(8 * MAX_PATH, L'~');
            int count = EnumerateHardLinks(target.c_str(), text.data(), text.size(), nullptr);
            results.push_back(std::to_wstring(count) + L" " + (count < 0 ? L"" : text.data()));
            EXPECT_EQ(results.back(), results.front()) << Narrow(target) << " " << way.name;
        }
        // The lines as a set: their order is what the ways agree on above.
        std::wstring found = results.front(), set = found.substr(0, found.find(L' ') + 1), expected;
        std::vector<std::wstring> lines;
        for (size_t at = set.size(), end; (end = found.find(L"\r\n", at)) != std::wstring::npos; at = end + 2)
            lines.push_back(found.substr(at, end + 2 - at));
        for (auto* list : {&lines, &reachable[target]}) std::sort(list->begin(), list->end());
        for (const std::wstring& line : lines) set += line;
        expected = std::to_wstring(reachable[target].size()) + L" ";
        for (const std::wstring& line : reachable[target]) expected += line;
        EXPECT_EQ(set, expected) << Narrow(target);
    }
}

} // namespace
} // namespace kestrune::testing
