// Writing and removing mount-point reparse data and mounting volumes on the test volumes.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ntfs/reparse/elevated_command.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/volumes/volumes.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

class ReparseWriting : public LeakCheckedTest {
protected:
    ReparseWriting() {
        volumes.AddVolume(L'D');
        eGuid = volumes.AddVolume(L'E');
        volumes.AddVolume(L'F', VolumeOptions{L"FAT"});
        volumes.MakeFolder(L"D:\\data");
        volumes.MakeFolder(L"D:\\j");
        volumes.MakeFolder(L"D:\\full");
        volumes.MakeFile(L"D:\\full\\x.txt");
    }
    std::wstring Target(const wchar_t* folder) {
        wchar_t target[MAX_PATH] = L"";
        EXPECT_EQ(GetReparseTarget(folder, target), 0);
        return target;
    }
    std::wstring eGuid;
};

TEST_F(ReparseWriting, TheJunctionRecordIsExactlyAsTabulated) {
    ASSERT_EQ(SetJunction(L"D:\\j", L"D:\\data"), 0);
    std::vector<uint8_t> record = volumes.ReparseData(L"D:\\j");
    ASSERT_EQ(record.size(), 60u); // bytes passed to the request
    const auto* r = reinterpret_cast<const MountPointRecord*>(record.data());
    EXPECT_EQ(r->reparseTag, 0xA0000003u);
    EXPECT_EQ(r->reparseDataLength, 52);
    EXPECT_EQ(r->reserved, 0);
    EXPECT_EQ(r->substituteNameOffset, 0);
    EXPECT_EQ(r->substituteNameLength, 24);
    EXPECT_EQ(r->printNameOffset, 26);
    EXPECT_EQ(r->printNameLength, 16); // the DOS path, as the console's junction command writes it
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(record.data() + 16), 22),
              std::wstring(L"\\??\\D:\\data\\\0D:\\data\\\0", 22)); // both names, both terminators
    EXPECT_EQ(Target(L"D:\\j"), L"D:\\data\\");
    EXPECT_TRUE(volumes.Attributes(L"D:\\j") & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEST_F(ReparseWriting, ATrailingBackslashIsNotDoubled) {
    ASSERT_EQ(SetJunction(L"D:\\j\\", L"D:\\data\\"), 0);
    EXPECT_EQ(volumes.ReparseData(L"D:\\j").size(), 60u);
    EXPECT_EQ(Target(L"D:\\j"), L"D:\\data\\");
}

TEST_F(ReparseWriting, ChecksComeBeforeAnyWrite) {
    EXPECT_EQ(SetJunction(L"D:\\full", L"D:\\data"), -2);
    EXPECT_TRUE(volumes.ReparseData(L"D:\\full").empty());
    EXPECT_EQ(SetJunction(L"D:\\missing", L"D:\\data"), -1);
    EXPECT_EQ(SetJunction(L"D:\\full\\x.txt", L"D:\\data"), -1);
    EXPECT_EQ(SetJunction(L"D:\\j", L""), -1);
    volumes.MakeFolder(L"F:\\onFat");
    EXPECT_EQ(SetJunction(L"F:\\onFat", L"D:\\data"), -3);
}

TEST_F(ReparseWriting, ATargetWhoseSubstituteNameWouldNotFitIsRefused) {
    std::wstring longest = L"D:\\" + std::wstring(251, L't'); // "\??\" + 254 + "\" = 259: fits
    EXPECT_EQ(SetJunction(L"D:\\j", longest.c_str()), 0);
    EXPECT_EQ(volumes.ReparseData(L"D:\\j").size(), 20u + 2 * 259 + 2 * 255);
    ASSERT_EQ(RemoveReparsePoint(L"D:\\j"), 0);
    std::wstring tooLong = longest + L"u";
    EXPECT_NE(SetJunction(L"D:\\j", tooLong.c_str()), 0);
    EXPECT_NE(SetJunction(L"D:\\j", (L"D:\\" + std::wstring(1000, L'v')).c_str()), 0);
    EXPECT_TRUE(volumes.ReparseData(L"D:\\j").empty());
}

TEST_F(ReparseWriting, RemovalLeavesAnOrdinaryEmptyFolder) {
    EXPECT_EQ(RemoveReparsePoint(L"D:\\data"), -3);
    EXPECT_EQ(RemoveReparsePoint(L"D:\\missing"), -1);
    ASSERT_EQ(SetJunction(L"D:\\j", L"D:\\data"), 0);
    ASSERT_EQ(RemoveReparsePoint(L"D:\\j"), 0);
    EXPECT_FALSE(volumes.Attributes(L"D:\\j") & FILE_ATTRIBUTE_REPARSE_POINT);
    wchar_t target[MAX_PATH];
    EXPECT_EQ(GetReparseTarget(L"D:\\j", target), -1);
    EXPECT_EQ(SetJunction(L"D:\\j", L"E:\\"), 0);
    EXPECT_EQ(Target(L"D:\\j"), L"E:\\");
}

TEST_F(ReparseWriting, VolumesMountByTheirNames) {
    ASSERT_EQ(MountVolumeByName(L"D:\\j", eGuid.c_str()), 0);
    std::wstring first = Target(L"D:\\j");
    EXPECT_EQ(first, eGuid.substr(4));
    EXPECT_EQ(first.rfind(L"Volume{", 0), 0u);
    wchar_t root[MAX_PATH];
    ASSERT_EQ(ResolveVolumeRoot(L"D:\\j\\file.txt", root), 0);
    EXPECT_STREQ(root, L"D:\\j\\"); // reached through its folder
    ASSERT_EQ(RemoveReparsePoint(L"D:\\j"), 0);
    EXPECT_FALSE(volumes.MountManagerLists(L"D:\\j")) << "volume mount removed behind the mount manager's back";
    ASSERT_EQ(MountVolumeByName(L"D:\\j\\", first.c_str()), 0); // as a mount's target reads back
    EXPECT_EQ(Target(L"D:\\j"), first);
    EXPECT_EQ(MountVolumeByName(L"D:\\missing", eGuid.c_str()), -1);
    EXPECT_EQ(MountVolumeByName(L"D:\\data", L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\"), -3);
    EXPECT_EQ(MountVolumeByName(L"D:\\full", eGuid.c_str()), -3); // the mount manager refuses a folder in use
}

// A refused request keeps its Win32 error for the caller; a standard user's refusal is access
// denied, which the flows elevate on.
TEST_F(ReparseWriting, ARefusedRequestLeavesItsWin32Error) {
    volumes.MakeFolder(L"F:\\onFat");
    volumes.SetAdminOnly(L"D:\\j");
    const struct { const char* row; std::function<int()> call; DWORD error; int status = -3; bool standardUser = false; } rows[] = {
        {"junction on FAT", [] { return SetJunction(L"F:\\onFat", L"D:\\data"); }, ERROR_INVALID_FUNCTION},
        {"remove no reparse point", [] { return RemoveReparsePoint(L"D:\\data"); }, ERROR_NOT_A_REPARSE_POINT},
        {"mount on a full folder", [&] { return MountVolumeByName(L"D:\\full", eGuid.c_str()); }, ERROR_DIR_NOT_EMPTY},
        {"no volume name", [] { return MountVolumeByName(L"D:\\j", L"D:\\data"); }, ERROR_INVALID_NAME},
        {"a standard user's mount", [&] { return MountVolumeByName(L"D:\\data", eGuid.c_str()); }, ERROR_ACCESS_DENIED, -3, true},
        {"a standard user's junction in an administrators' folder", [] { return SetJunction(L"D:\\j", L"D:\\data"); },
         ERROR_ACCESS_DENIED, -1, true},
    };
    for (const auto& r : rows) {
        volumes.SetElevated(!r.standardUser);
        SetLastError(0);
        EXPECT_EQ(r.call(), r.status) << r.row;
        EXPECT_EQ(GetLastError(), r.error) << r.row;
    }
}

// Records as other tools and Windows itself lay them out, read by their offsets and lengths.
TEST_F(ReparseWriting, RecordsAreReadByTheirNamesOffsetsAndForms) {
    const struct { const char* row; std::vector<uint8_t> record; int status; std::wstring target; } rows[] = {
        {"print name first", ReparseRecord(kMountPointTag, L"\\??\\D:\\data\\", L"D:\\data", true), 0, L"D:\\data\\"},
        {"volume in NT form", ReparseRecord(kMountPointTag, L"\\??\\" + eGuid.substr(4), L"E:\\"), 0, eGuid.substr(4)},
        {"device form", ReparseRecord(kMountPointTag, L"\\Device\\HarddiskVolume2\\data", L"D:\\data"), -3, L""},
        {"no prefix", ReparseRecord(kMountPointTag, L"D:\\data\\"), -3, L""},
        {"a cloud folder", ReparseRecord(kCloudTag), -3, L""},
    };
    for (const auto& r : rows) {
        volumes.SetRawReparse(L"D:\\j", r.record);
        wchar_t target[MAX_PATH] = L"";
        EXPECT_EQ(GetReparseTarget(L"D:\\j", target), r.status) << r.row;
        EXPECT_EQ(target, r.target) << r.row;
    }
    // A folder link to a share, and a junction that denies listing (the system's compatibility ones).
    volumes.MakeSymbolicLink(L"D:\\link", L"UNC\\server\\share\\x", true);
    wchar_t target[MAX_PATH] = L"";
    DWORD tag = 0;
    EXPECT_EQ(ReadLinkTarget(L"D:\\link", target, &tag), 0);
    EXPECT_EQ(std::wstring(target) + L" " + std::to_wstring(tag), L"\\\\server\\share\\x 2684354572");
    volumes.MakeJunction(L"D:\\j", L"D:\\data");
    volumes.SetListingDenied(L"D:\\j");
    EXPECT_EQ(Target(L"D:\\j"), L"D:\\data\\");
}

TEST_F(ReparseWriting, EveryAllocationFailureWritesNothing) {
    int paths = ForEachAllocationFailure([&](bool) {
        int result = SetJunction(L"D:\\j", L"D:\\data");
        if (result != 0) {
            EXPECT_EQ(result, -4);
            EXPECT_TRUE(volumes.ReparseData(L"D:\\j").empty());
        } else {
            volumes.SetRawReparse(L"D:\\j", {});
        }
    });
    EXPECT_EQ(paths, 2); // the prefixing copy and the transfer buffer
}

TEST_F(ReparseWriting, TheElevatedHelperChecksItsArgumentsAgain) {
    const std::wstring p = L"\\\\?\\", vm = L"D:\\vm", jn = L"D:\\jn", j2 = L"D:\\j2", rp = L"D:\\rp";
    volumes.MakeMount(vm, eGuid);
    volumes.MakeJunction(rp, L"D:\\data");
    volumes.MakeJunction(jn, L"D:\\data");
    volumes.MakeFolder(j2);
    wchar_t line[3 * MAX_PATH];
    ASSERT_TRUE(FormatElevatedCommand(ElevatedOperation::SetVolumeMount, j2.c_str(), eGuid.substr(4).c_str(), line, 3 * MAX_PATH));
    int count = 0;
    wchar_t** parsed = CommandLineToArgvW((L"helper " + std::wstring(line)).c_str(), &count);
    ASSERT_EQ(std::vector<std::wstring>(parsed + 1, parsed + count), (std::vector<std::wstring>{L"set-volume-mount", p + j2, eGuid}));
    LocalFree(parsed);
    EXPECT_FALSE(FormatElevatedCommand(ElevatedOperation::DeleteJunction, jn.c_str(), nullptr, line, 22));
    EXPECT_EQ(line[0], L'\0');
    struct Case {
        const char* name;
        std::vector<std::wstring> args;
        DWORD error;
        std::wstring after; // the folder's target afterwards
        bool standardUser = false;
    };
    const Case cases[] = {
        {"nothing", {}, ERROR_BAD_ARGUMENTS, L""},
        {"another operation", {L"format", p + j2}, ERROR_BAD_ARGUMENTS, L""},
        {"no volume", {L"set-volume-mount", p + j2}, ERROR_BAD_ARGUMENTS, L""},
        {"one argument too many", {L"delete-junction", p + jn, p + L"D:\\data"}, ERROR_BAD_ARGUMENTS, L"D:\\data\\"},
        {"a folder without its prefix", {L"set-junction", j2, p + L"D:\\data"}, ERROR_BAD_PATHNAME, L""},
        {"a relative target", {L"set-junction", p + j2, p + L"data"}, ERROR_BAD_PATHNAME, L""},
        {"a missing folder", {L"set-junction", p + L"D:\\gone", p + L"D:\\data"}, ERROR_PATH_NOT_FOUND, L""},
        {"a missing target", {L"set-junction", p + j2, p + L"D:\\gone"}, ERROR_PATH_NOT_FOUND, L""},
        {"a volume name cut short", {L"set-volume-mount", p + j2, eGuid.substr(0, 48)}, ERROR_INVALID_NAME, L""},
        {"a volume name of no GUID", {L"set-volume-mount", p + j2, p + L"Volume{0000000g-0000-0000-0000-000000000000}\\"}, ERROR_INVALID_NAME, L""},
        {"a folder with a file", {L"set-junction", p + L"D:\\full", p + L"D:\\data"}, ERROR_DIR_NOT_EMPTY, L""},
        {"a mount on a junction", {L"set-volume-mount", p + jn, eGuid}, ERROR_DIR_NOT_EMPTY, L"D:\\data\\"},
        {"a junction as a volume mount", {L"delete-volume-mount", p + jn}, ERROR_NOT_A_REPARSE_POINT, L"D:\\data\\"},
        {"a volume mount as a junction", {L"delete-junction", p + vm}, ERROR_NOT_A_REPARSE_POINT, eGuid.substr(4)},
        {"an empty folder", {L"delete-junction", p + j2}, ERROR_NOT_A_REPARSE_POINT, L""},
        {"not elevated after all", {L"set-volume-mount", p + j2, eGuid}, ERROR_ACCESS_DENIED, L"", true},
        {"a volume mounted", {L"set-volume-mount", p + j2, eGuid}, ERROR_SUCCESS, eGuid.substr(4)},
        {"a junction set", {L"set-junction", p + L"D:\\j", p + L"D:\\data\\"}, ERROR_SUCCESS, L"D:\\data\\"},
        {"a junction removed", {L"delete-junction", p + jn}, ERROR_SUCCESS, L""},
        {"a volume mount removed", {L"delete-volume-mount", p + vm}, ERROR_SUCCESS, L""},
        {"no mount to replace", {L"replace-mount", p + L"D:\\data", eGuid}, ERROR_NOT_A_REPARSE_POINT, L""},
        {"a replacing volume name of no GUID", {L"replace-mount", p + rp, p + L"Volume{x}\\"}, ERROR_INVALID_NAME, L"D:\\data\\"},
        {"a junction replaced in place", {L"replace-mount", p + rp, p + L"D:\\j"}, ERROR_SUCCESS, L"D:\\j\\"},
        {"a junction replaced by a volume", {L"replace-mount", p + rp, eGuid}, ERROR_SUCCESS, eGuid.substr(4)},
        {"an unknown volume: the old one put back", {L"replace-mount", p + rp, p + L"Volume{00000000-0000-0000-0000-000000000000}\\"},
         ERROR_INVALID_PARAMETER, eGuid.substr(4)},
        {"a volume mount replaced by a junction", {L"replace-mount", p + rp, p + L"D:\\data"}, ERROR_SUCCESS, L"D:\\data\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        volumes.SetElevated(!c.standardUser);
        std::vector<const wchar_t*> argv;
        for (const std::wstring& arg : c.args) argv.push_back(arg.c_str());
        EXPECT_EQ(RunElevatedCommand(static_cast<int>(argv.size()), argv.data()), c.error);
        wchar_t target[MAX_PATH] = L"";
        if (c.args.size() > 1) GetReparseTarget(c.args[1].c_str(), target);
        EXPECT_EQ(std::wstring(target), c.after);
    }
    EXPECT_FALSE(volumes.MountManagerLists(vm));
}

} // namespace
} // namespace kestrune::testing
