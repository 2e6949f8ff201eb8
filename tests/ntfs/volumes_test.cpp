// Volume resolution through junctions and mount points, and the volume checks built on it.
#include <gtest/gtest.h>

#include <cstring>

#include "ntfs/reparse/reparse_record.h"
#include "ntfs/volumes/volumes.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

class VolumeChecks : public LeakCheckedTest {
protected:
    VolumeChecks() {
        dGuid = volumes.AddVolume(L'D');
        eGuid = volumes.AddVolume(L'E');
        fGuid = volumes.AddVolume(L'F');
        volumes.AddVolume(L'G', VolumeOptions{L"FAT"});
        hiddenGuid = volumes.AddUnletteredVolume();
        volumes.AddShare(L"\\\\server\\share");
        volumes.MakeFolder(L"D:\\docs");
        volumes.MakeFile(L"D:\\docs\\a.txt");
        volumes.MakeFolder(L"E:\\data");
        volumes.MakeJunction(L"D:\\link", L"E:\\data");
        volumes.MakeMount(L"D:\\mnt", fGuid);
        volumes.MakeMount(L"D:\\lost", hiddenGuid);
        volumes.MakeFolder(L"\\\\server\\share\\dir");
    }
    std::wstring Root(const wchar_t* path, int expected = 0) {
        wchar_t root[MAX_PATH] = L"untouched";
        EXPECT_EQ(ResolveVolumeRoot(path, root), expected) << Narrow(path);
        return root;
    }
    std::wstring dGuid, eGuid, fGuid, hiddenGuid;
};

TEST_F(VolumeChecks, OrdinaryPathsResolveToTheirDrive) {
    EXPECT_EQ(Root(L"D:\\docs\\a.txt"), L"D:\\");
    EXPECT_EQ(Root(L"D:\\"), L"D:\\");
    EXPECT_EQ(Root(L"D:\\x"), L"D:\\");
    EXPECT_EQ(Root(L"d:\\docs\\"), L"D:\\");
    volumes.Api().SetCurrentDirectoryW(L"D:\\docs");
    EXPECT_EQ(Root(L"a.txt"), L"D:\\");
}

TEST_F(VolumeChecks, JunctionsAndMountPointsAboveAPathAreFollowed) {
    EXPECT_EQ(Root(L"D:\\link\\file.txt"), L"E:\\");
    EXPECT_EQ(Root(L"D:\\link"), L"D:\\"); // the junction folder itself lies on D:
    EXPECT_EQ(Root(L"D:\\link\\dummy.tmp"), L"E:\\");
    EXPECT_EQ(Root(L"D:\\mnt\\deep\\file.txt"), L"D:\\mnt\\"); // reached through its folder, not its letter
    EXPECT_EQ(Root(L"D:\\lost\\file.txt"), L"D:\\lost\\");     // a volume without a letter
    // A junction whose target lies below another junction: both are followed.
    volumes.MakeFolder(L"F:\\inner");
    volumes.MakeJunction(L"E:\\data\\toF", L"F:\\inner");
    volumes.MakeJunction(L"D:\\chain", L"E:\\data\\toF\\");
    EXPECT_EQ(Root(L"D:\\chain\\x.txt"), L"F:\\");
}

TEST_F(VolumeChecks, JunctionsLeadingIntoEachOtherEndTheWalk) {
    volumes.MakeFolder(L"D:\\p");
    volumes.MakeFolder(L"E:\\q");
    volumes.MakeJunction(L"D:\\p", L"E:\\q");
    volumes.MakeJunction(L"E:\\q", L"D:\\p");
    EXPECT_EQ(Root(L"D:\\p\\x", -1), L"untouched");
    volumes.MakeJunction(L"D:\\self", L"D:\\self");
    EXPECT_EQ(Root(L"D:\\self\\x", -1), L"untouched");
}

TEST_F(VolumeChecks, NetworkPathsAndBadInputHaveNoDriveRoot) {
    EXPECT_EQ(Root(L"\\\\server\\share\\dir\\f.txt", -1), L"untouched");
    EXPECT_EQ(Root(L"\\\\server\\share", -1), L"untouched");
    EXPECT_EQ(Root(L"", -1), L"untouched");
    EXPECT_EQ(IsNTFSVolume(L"\\\\server\\share\\dir\\f.txt"), 1); // the server's NTFS
    EXPECT_EQ(IsSameVolume(L"\\\\server\\share\\dir\\f.txt", L"\\\\server\\share\\dir\\g.txt"), 0);
    EXPECT_EQ(IsSameVolume(L"D:\\a", L"\\\\server\\share\\dir"), 0);
}

TEST_F(VolumeChecks, OddlyWrittenPathsResolveLikeTheirFullForm) {
    EXPECT_EQ(Root(L"d:/docs/a.txt"), L"D:\\");
    EXPECT_EQ(Root(L"D:\\link\\..\\link\\f"), L"E:\\");
    EXPECT_EQ(Root(L"D:\\link\\\\f"), L"E:\\");
    EXPECT_EQ(Root(L"D:\\link/f"), L"E:\\");
    EXPECT_EQ(Root(L"D:\\l*k\\f"), L"D:\\"); // a wildcard names no folder
    EXPECT_EQ(IsNTFSVolume(L""), 0);
    EXPECT_EQ(IsSameVolume(L"", L"D:\\a"), 0);
    wchar_t target[MAX_PATH] = L"untouched";
    EXPECT_EQ(GetReparseTarget(L"D:\\li*", target), -1);
    EXPECT_EQ(GetReparseTarget(L"", target), -1);
    EXPECT_STREQ(target, L"untouched");
}

TEST_F(VolumeChecks, FoldersLeadWhereTheSystemLeadsNotWhereTheirDataReads) {
    volumes.SetReparseUnreadable(L"D:\\link");
    EXPECT_EQ(Root(L"D:\\link\\file.txt"), L"E:\\");
    // Reparse data of another tag is not a mount.
    volumes.MakeFolder(L"D:\\other");
    std::vector<uint8_t> foreign(24, 0);
    foreign[0] = 0x1B;
    foreign[3] = 0x80; // 0x8000001B
    volumes.SetRawReparse(L"D:\\other", foreign);
    EXPECT_EQ(Root(L"D:\\other\\f"), L"D:\\");
}

TEST_F(VolumeChecks, DriveRootsAreFoundByVolumeName) {
    wchar_t root[MAX_PATH] = L"untouched";
    EXPECT_EQ(DriveRootFromVolumeName(eGuid.c_str() + 4, root), 0);
    EXPECT_STREQ(root, L"E:\\");
    EXPECT_EQ(DriveRootFromVolumeName(hiddenGuid.c_str() + 4, root), -1);
    EXPECT_EQ(DriveRootFromVolumeName(L"Volume{00000000-0000-0000-0000-000000000000}\\", root), -1);
    EXPECT_STREQ(root, L"E:\\");
}

TEST_F(VolumeChecks, AnEmptyCardReaderBeforeTheMatchDoesNotHideIt) {
    VolumeOptions reader;
    reader.ready = false;
    volumes.AddVolume(L'A', reader);
    wchar_t root[MAX_PATH] = L"";
    EXPECT_EQ(DriveRootFromVolumeName(fGuid.c_str() + 4, root), 0);
    EXPECT_STREQ(root, L"F:\\");
    EXPECT_EQ(Root(L"D:\\mnt\\f.txt"), L"D:\\mnt\\");
}

// Each row: where a path lands, its file system, and whether it shares D:\docs\a.txt's volume.
TEST_F(VolumeChecks, PathsLandWhereWindowsPutsThem) {
    volumes.MakeSymbolicLink(L"D:\\dirLink", L"E:\\data", true);
    volumes.MakeJunction(L"D:\\toFat", L"G:\\");
    volumes.MakeJunction(L"D:\\docs\\back", L"D:\\");
    volumes.AddDriveAlias(L'S', L"D:\\docs");
    volumes.AddDriveAlias(L'T', L"D:\\");
    volumes.AddDriveAlias(L'Z', L"\\\\server\\share");
    volumes.AddVolume(L'A', VolumeOptions{L"FAT", false});
    volumes.AddVolume(L'H', VolumeOptions{L"NTFS", true, 0, false}); // the mount manager knows no GUID path
    const struct { const char* name; const wchar_t* path; const wchar_t* root; int ntfs, sameAsDocs; } rows[] = {
        {"drive root", L"D:\\", L"D:\\", 1, 1},
        {"the letter in either case", L"d:\\b", L"D:\\", 1, 1},
        {"another volume", L"E:\\b", L"E:\\", 1, 0},
        {"behind a junction", L"D:\\link\\dummy.tmp", L"E:\\", 1, 0},
        {"FAT", L"G:\\onFat\\x", L"G:\\", 0, 0},
        {"no medium, and no system dialog", L"A:\\x", L"untouched", 0, 0},
        {"no such drive", L"Q:\\x", L"untouched", 0, 0},
        {"a drive without a GUID path", L"H:\\x", L"H:\\", 1, 0},
        {"directory link to E", L"D:\\dirLink\\f.txt", L"E:\\", 1, 0},
        {"junction to FAT", L"D:\\toFat\\f.txt", L"G:\\", 0, 0},
        {"junction back to its root", L"D:\\docs\\back\\docs\\a.txt", L"D:\\", 1, 1},
        {"SUBST of a folder", L"S:\\a.txt", L"D:\\", 1, 1},
        {"SUBST of a root", L"T:\\docs\\a.txt", L"T:\\", 1, 1},
        {"letterless volume", L"D:\\lost\\f.txt", L"D:\\lost\\", 1, 0},
        {"network drive", L"Z:\\dir\\f.txt", L"untouched", 1, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Root(row.path, row.root[0] == L'u' ? -1 : 0), row.root) << row.name;
        EXPECT_EQ(IsNTFSVolume(row.path), row.ntfs) << row.name;
        EXPECT_EQ(IsSameVolume(row.path, L"D:\\docs\\a.txt"), row.sameAsDocs) << row.name;
    }
}

TEST_F(VolumeChecks, ReparseTargetsReadBackAsWritten) {
    wchar_t target[MAX_PATH] = L"untouched";
    EXPECT_EQ(GetReparseTarget(L"D:\\link", target), 0);
    EXPECT_STREQ(target, L"E:\\data\\");
    EXPECT_EQ(GetReparseTarget(L"D:\\mnt", target), 0);
    EXPECT_EQ(std::wstring(target), fGuid.substr(4));
    EXPECT_EQ(wcsncmp(target, L"Volume{", 7), 0);
    wcscpy(target, L"untouched");
    long long opensBefore = volumes.Stats().fileOpens;
    EXPECT_EQ(GetReparseTarget(L"D:\\docs", target), -1);
    EXPECT_EQ(volumes.Stats().fileOpens, opensBefore); // refused without opening the folder
    EXPECT_EQ(GetReparseTarget(L"D:\\missing", target), -1);
    volumes.SetReparseUnreadable(L"D:\\link");
    EXPECT_EQ(GetReparseTarget(L"D:\\link", target), -3);
    EXPECT_STREQ(target, L"untouched");
}

TEST_F(VolumeChecks, MalformedReparseDataYieldsNoTarget) {
    auto withName = [](const std::wstring& name, size_t total) {
        std::vector<uint8_t> bytes(total, 0);
        auto* record = reinterpret_cast<MountPointRecord*>(bytes.data());
        record->reparseTag = kMountPointTag;
        record->reparseDataLength = static_cast<uint16_t>(total - 8);
        size_t chars = std::min(name.size(), (total - 16) / 2);
        std::memcpy(bytes.data() + 16, name.data(), chars * 2);
        return bytes;
    };
    wchar_t target[MAX_PATH] = L"untouched";
    volumes.MakeFolder(L"D:\\short");
    volumes.SetRawReparse(L"D:\\short", withName(L"\\??", 24));
    EXPECT_NE(GetReparseTarget(L"D:\\short", target), 0);
    volumes.MakeFolder(L"D:\\unterminated");
    volumes.SetRawReparse(L"D:\\unterminated", withName(std::wstring(40, L'x'), 16 + 80));
    EXPECT_NE(GetReparseTarget(L"D:\\unterminated", target), 0);
    volumes.MakeFolder(L"D:\\long");
    volumes.SetRawReparse(L"D:\\long", withName(L"\\??\\D:\\" + std::wstring(300, L'y'), 16 + 700));
    EXPECT_NE(GetReparseTarget(L"D:\\long", target), 0);
    EXPECT_STREQ(target, L"untouched");
    EXPECT_EQ(Root(L"D:\\long\\x", -1), L"untouched"); // a junction that leads nowhere
}

TEST_F(VolumeChecks, EveryAllocationFailureIsClean) {
    EXPECT_EQ(ForEachAllocationFailure([&](bool) {
                  wchar_t target[MAX_PATH] = L"untouched";
                  int result = GetReparseTarget(L"D:\\link", target);
                  if (result != 0) {
                      EXPECT_EQ(result, -4);
                      EXPECT_STREQ(target, L"untouched");
                  }
                  wchar_t root[MAX_PATH];
                  ResolveVolumeRoot(L"D:\\link\\x", root);
              }),
              1);
}

} // namespace
} // namespace kestrune::testing
