// The links of a drop on the test volumes: each kind, the name series, refusals, cancel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/links/drop_links.h"
#include "ntfs/reparse/reparse_record.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

struct Sink : LinkSink {
    size_t stopAt = SIZE_MAX;
    std::vector<std::wstring> made, failed; // failed: "item why"
    bool GoOn(size_t done, const wchar_t*) override { return done < stopAt; }
    void Made(const wchar_t*, const wchar_t* link, bool) override { made.push_back(link); }
    void Failed(const wchar_t* item, LinkFailure why, DWORD) override {
        failed.push_back(std::wstring(item) + L" " + std::to_wstring(static_cast<int>(why)));
    }
};

const LinkSeries kSeries[] = {{L"Hard link to ", L"Hard link (%d) to "},
                              {L"Symbolic link to ", L"Symbolic link (%d) to "},
                              {L"Junction to ", L"Junction (%d) to "}};

class DropLinks : public LeakCheckedTest {
protected:
    DropLinks() {
        volumes.AddVolume(L'D');
        volumes.AddVolume(L'E');
        volumes.MakeFolder(L"D:\\docs");
        volumes.MakeFolder(L"D:\\work");
        volumes.MakeFile(L"D:\\docs\\a.txt");
        volumes.MakeFile(L"D:\\docs\\b.txt");
        volumes.MakeFolder(L"D:\\docs\\sub");
        volumes.MakeFile(L"D:\\docs\\sub\\in.txt");
        volumes.MakeFolder(L"E:\\far");
    }
    int Run(LinkKind kind, const wchar_t* folder, const std::vector<std::wstring>& items, Sink* to = nullptr) {
        NameList list;
        for (auto& item : items) list.Add(item.c_str(), item.size());
        return MakeDropLinks(kind, folder, list, kSeries[static_cast<int>(kind)], to ? *to : sink);
    }
    // The substitute name and the relative flag of a symbolic link's record.
    std::pair<std::wstring, uint32_t> SymbolicRecord(const std::wstring& link) {
        std::vector<uint8_t> data = volumes.ReparseData(link);
        const auto* record = reinterpret_cast<const MountPointRecord*>(data.data());
        return {std::wstring(reinterpret_cast<const wchar_t*>(data.data() + 20 + record->substituteNameOffset),
                             record->substituteNameLength / 2),
                data[16]};
    }
    Sink sink;
};

TEST_F(DropLinks, EachKindLeadsToItsItem) {
    EXPECT_EQ(Run(LinkKind::Hard, L"D:\\work", {L"D:\\docs\\a.txt", L"D:\\docs\\b.txt"}), 2);
    EXPECT_EQ(volumes.LinkCount(L"D:\\work\\b.txt"), 2);
    EXPECT_EQ(Run(LinkKind::Junction, L"D:\\work", {L"D:\\docs\\sub"}), 1);
    EXPECT_TRUE(volumes.Exists(L"D:\\work\\sub"));
    EXPECT_NE(volumes.ReparseData(L"D:\\work\\sub")[0], 0) << "no junction record";
    EXPECT_EQ(Run(LinkKind::Symbolic, L"D:\\work", {L"D:\\docs\\a.txt", L"D:\\docs\\sub"}), 2);
    EXPECT_EQ(Run(LinkKind::Symbolic, L"E:\\far", {L"D:\\docs\\a.txt"}), 1);
    volumes.MakeJunction(L"E:\\toDocs", L"D:\\docs");
    EXPECT_EQ(Run(LinkKind::Symbolic, L"E:\\toDocs", {L"D:\\work\\a.txt"}), 1);
    const struct { const char* name; const wchar_t* link; const wchar_t* substitute; uint32_t relative; } rows[] = {
        {"same volume", L"D:\\work\\Symbolic link to a.txt", L"..\\docs\\a.txt", 1},
        {"folder", L"D:\\work\\Symbolic link to sub", L"..\\docs\\sub", 1},
        {"other volume", L"E:\\far\\a.txt", L"\\??\\D:\\docs\\a.txt", 0},
        {"through a junction to the item's volume", L"D:\\docs\\Symbolic link to a.txt", L"..\\work\\a.txt", 1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SymbolicRecord(row.link), std::make_pair(std::wstring(row.substitute), row.relative)) << row.name;
        EXPECT_NE(volumes.Attributes(row.link), INVALID_FILE_ATTRIBUTES) << row.name;
    }
    EXPECT_TRUE(volumes.Attributes(L"D:\\work\\Symbolic link to sub") & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(volumes.Exists(L"D:\\work\\Symbolic link to sub\\in.txt")) << "the folder link does not lead to the folder";
    EXPECT_TRUE(sink.failed.empty());
}

TEST_F(DropLinks, TakenNamesGoOnInTheSeriesWithoutRescanning) {
    for (int i = 0; i < 300; ++i) volumes.MakeFile(L"D:\\docs\\f" + std::to_wstring(i));
    std::vector<std::wstring> items;
    for (int i = 0; i < 300; ++i) items.push_back(L"D:\\docs\\f" + std::to_wstring(i));
    volumes.MakeFile(L"D:\\docs\\HARD LINK TO f7"); // NTFS names compare without regard to case
    volumes.ResetStats();
    EXPECT_EQ(Run(LinkKind::Hard, L"D:\\docs", items), 300);
    EXPECT_LE(volumes.Stats().kernelCalls - 2 * volumes.Stats().allocations, 300 + 310) << "more than one call per item and one listing";
    EXPECT_TRUE(volumes.Exists(L"D:\\docs\\Hard link to f0"));
    EXPECT_TRUE(volumes.Exists(L"D:\\docs\\Hard link (2) to f7"));
    sink.made.clear();
    EXPECT_EQ(Run(LinkKind::Hard, L"D:\\docs", {L"D:\\docs\\f1", L"D:\\docs\\f1", L"D:\\docs\\f1"}), 3);
    EXPECT_EQ(sink.made.back(), L"D:\\docs\\Hard link (4) to f1");
    volumes.MakeFolder(L"D:\\docs\\Junction to sub");
    EXPECT_EQ(Run(LinkKind::Junction, L"D:\\docs", {L"D:\\docs\\sub"}), 1);
    EXPECT_TRUE(volumes.Exists(L"D:\\docs\\Junction (2) to sub"));
}

TEST_F(DropLinks, RefusalsAreToldPerItemAndNothingIsOverwritten) {
    std::wstring deep = L"D:\\" + std::wstring(240, L'd');
    volumes.MakeFolder(deep);
    volumes.MakeFile(deep + L"\\a.txt");
    EXPECT_EQ(Run(LinkKind::Hard, deep.c_str(), {L"D:\\docs\\gone.txt", L"D:\\docs\\a.txt"}), 0);
    std::vector<std::wstring> expected = {L"D:\\docs\\gone.txt 0", L"D:\\docs\\a.txt 1"};
    EXPECT_EQ(sink.failed, expected);
    EXPECT_EQ(volumes.LinkCount(deep + L"\\a.txt"), 1) << "an existing name was replaced";
    // The target folder gone: told once, and the run ends.
    volumes.MakeFolder(L"D:\\brief");
    struct Vanishing : Sink {
        FakeVolumeSet* volumes;
        bool GoOn(size_t done, const wchar_t*) override {
            if (done == 1) volumes->Remove(L"D:\\brief");
            return true;
        }
    } vanishing;
    vanishing.volumes = &volumes;
    EXPECT_EQ(Run(LinkKind::Hard, L"D:\\brief", {L"D:\\docs\\a.txt", L"D:\\docs\\b.txt", L"D:\\docs\\sub"}, &vanishing), 1);
    EXPECT_EQ(vanishing.failed, std::vector<std::wstring>{L"D:\\docs\\b.txt 2"});
    EXPECT_EQ(Run(LinkKind::Hard, L"D:\\brief", {L"D:\\docs\\a.txt"}), -1);
}

TEST_F(DropLinks, SymbolicLinksWithoutTheRightMakeNothingAndSaySoOnce) {
    const struct { const char* name; SymbolicLinkRight right; bool flagKnown; int made; size_t failed; } rows[] = {
        {"no right", SymbolicLinkRight::None, true, 0, 1},
        {"developer mode", SymbolicLinkRight::DeveloperMode, true, 2, 0},
        {"older Windows, right held", SymbolicLinkRight::Held, false, 2, 0},
        {"older Windows, no right", SymbolicLinkRight::DeveloperMode, false, 0, 1},
    };
    for (const auto& row : rows) {
        volumes.SetSymbolicLinkRight(row.right);
        volumes.SetUnprivilegedFlagKnown(row.flagKnown);
        sink = Sink{};
        volumes.MakeFolder(L"D:\\to");
        EXPECT_EQ(Run(LinkKind::Symbolic, L"D:\\to", {L"D:\\docs\\a.txt", L"D:\\docs\\b.txt"}), row.made) << row.name;
        ASSERT_EQ(sink.failed.size(), row.failed) << row.name;
        if (row.failed) EXPECT_EQ(sink.failed[0], L"D:\\docs\\a.txt 3") << row.name;
        EXPECT_EQ(volumes.Exists(L"D:\\to\\a.txt"), row.made > 0) << row.name;
        if (volumes.Exists(L"D:\\to\\a.txt")) volumes.Remove(L"D:\\to\\a.txt"), volumes.Remove(L"D:\\to\\b.txt");
        volumes.Remove(L"D:\\to");
    }
}

TEST_F(DropLinks, ACancelStopsTheRunAndWhatWasMadeStays) {
    sink.stopAt = 1;
    EXPECT_EQ(Run(LinkKind::Hard, L"D:\\work", {L"D:\\docs\\a.txt", L"D:\\docs\\b.txt"}), 1);
    EXPECT_TRUE(volumes.Exists(L"D:\\work\\a.txt"));
    EXPECT_FALSE(volumes.Exists(L"D:\\work\\b.txt"));
}

} // namespace
} // namespace kestrune::testing
