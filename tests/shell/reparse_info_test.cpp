// The reparse-point information dialog through the ReparsePoint menu, on the test volumes: the
// dialog, the folder browser and the message boxes are driven by a script.
#include "tests/shell/change_watcher.h"
#include "tests/shell/reparse_fixture.h"
#include "tests/shell/shell_ui_script.h"
#include "ntfs/kernel_override.h"
#include "ntfs/reparse/reparse_record.h"

namespace kestrune::testing {
namespace {

const wchar_t kRemoveFailedText[] = L"リパースポイント属性の解除に失敗しました。";
const Said kRemoved = {L"リパースポイント属性を解除しました。", IDI_ASTERISK};
const Said kRemoveFailed = {kRemoveFailedText, IDI_HAND};
const Said kChanged = {L"リパースポイントを変更しました。", IDI_ASTERISK};
const Said kNotChanged = {L"リパースポイントを変更出来ませんでした。", IDI_HAND};
const Said kRestored = {L"リパースポイントを変更出来ませんでした。\n元のリパースポイントを設定し直しました。", IDI_HAND};
const Said kUnmounted = {L"リパースポイントを変更出来ませんでした。\n元のリパースポイントも設定し直せなかったため、"
                         L"このフォルダには現在何もマウントされていません。",
                         IDI_HAND};

using ReparseInfo = ReparseFixture;

// A drive whose mount the mount manager refuses once, after its name was read (not ready for a moment).
struct Unplugging {
    static inline std::wstring volume;
    static BOOL WINAPI Mount(LPCWSTR at, LPCWSTR name) {
        if (!volume.empty() && volume == name) return volume.clear(), SetLastError(ERROR_NOT_READY), FALSE;
        return FakeVolumeSet::Active()->Api().SetVolumeMountPointW(at, name);
    }
};

TEST_F(ReparseInfo, TheDialogShowsRemovesAndChangesTheMount) {
    const std::wstring lost = root + L"\\lost", lostVolume = L"Volume{00000000-0000-0000-0000-00000000dead}\\";
    volumes.MakeFolder(lost);
    CreateDirectoryW(lost.c_str(), nullptr);
    volumes.MakeMount(lost, L"\\\\?\\" + lostVolume);
    const std::wstring inside = junction + L"\\sub"; // reached through the folder's own mount
    volumes.MakeFolder(inside);
    CreateDirectoryW(inside.c_str(), nullptr);
    const auto remove = InfoDialogOwner::Press(201), change = InfoDialogOwner::Press(202);
    const auto deny = [&](HWND) { volumes.SetDenied(junction); };
    const auto gone = [&](HWND) { volumes.Remove(other); }; // from the volume the flow sees
    const std::wstring kept = data + L"\\", volume = volumeC.substr(4), shown = volume + L" (C:\\)";
    volumes.AddVolume(L'Z', VolumeOptions{L"NTFS", true, 0, false}); // there, but the mount manager cannot name it
    volumes.AddShare(L"\\\\srv\\share"); // a junction to a share, as another tool wrote it: both names come back
    volumes.MakeFolder(L"\\\\srv\\share\\data");
    const std::wstring unc = L"\\\\srv\\share\\data\\";
    const auto uncRecord = ReparseRecord(kMountPointTag, L"\\??\\UNC" + unc.substr(1), unc);
    struct Case {
        const char* name;
        std::wstring mounted;
        std::vector<InfoDialogOwner::Step> steps;
        std::vector<std::wstring> browse;
        std::vector<Said> said;
        std::vector<std::wstring> edits; // before each step and at the end
        std::wstring after;
        size_t notices;
        std::wstring opensOn = L""; // the browser's first selection
        UINT driveType = DRIVE_FIXED;
        std::vector<uint8_t> record = {}; // written before, and found again after
        bool unplugs = false;              // mounting C: is refused once
    };
    const Case cases[] = {
        {"a junction", junction, {}, {}, {}, {kept}, kept, 0},
        {"a volume mount", volumeMount, {}, {}, {}, {shown}, volume, 0},
        {"removed: nothing left to remove", junction, {remove, remove}, {}, {kRemoved}, {kept, L"", L""}, L"", 2},
        {"changed after a removal", junction, {remove, change}, {other}, {kRemoved, kChanged}, {kept, L"", other + L"\\"},
         other + L"\\", 4, junction},
        {"failed after a removal", junction, {remove, change}, {L"Z:\\"}, {kRemoved, kNotChanged}, {kept, L"", L""}, L"", 2, junction},
        {"changed to a drive", junction, {change}, {L"C:\\"}, {kChanged}, {kept, L"C:\\"}, volume, 2, data},
        {"the folder itself", junction, {change}, {Upper(junction), L""}, {kSelf}, {kept, kept}, kept, 0, data},
        {"cancelled", junction, {change}, {L""}, {}, {kept, kept}, kept, 0, data},
        {"a drive that cannot be named: nothing touched", junction, {change}, {L"Z:\\"}, {kNotChanged}, {kept, kept}, kept, 0, data},
        {"old junction restored", junction, {change}, {L"C:\\"}, {kRestored}, {kept, kept}, kept, 2, data, DRIVE_FIXED, {}, true},
        {"old share junction restored as it was", junction, {change}, {L"C:\\"}, {kRestored}, {unc, unc},
         L"UNC" + unc.substr(1), 2, L"", DRIVE_FIXED, uncRecord, true},
        {"old volume restored", volumeMount, {change}, {L"C:\\"}, {kRestored}, {shown, shown}, volume, 2, volumeMount, DRIVE_FIXED, {}, true},
        {"nothing to restore", lost, {change}, {L"C:\\"}, {kUnmounted}, {lostVolume, L""}, L"", 2, lost, DRIVE_FIXED, {}, true},
        {"a target through the folder's own mount", junction, {change}, {inside, L""}, {kSelf}, {kept, kept}, kept, 0, data},
        {"on a network drive: no change offered", junction, {change}, {}, {}, {kept, kept}, kept, 0, L"", DRIVE_REMOTE},
        {"a target gone: nothing touched", junction, {gone, change}, {other}, {kNotChanged}, {kept, kept, kept}, kept, 0, data},
        {"a folder that cannot be opened", junction, {deny, change}, {other}, {kNotChanged}, {kept, kept, kept}, kept, 0, data},
    };
    KernelApi api = volumes.Api();
    api.SetVolumeMountPointW = Unplugging::Mount;
    const KernelApi* previous = ReplaceKernelApi(&api);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Unplugging::volume = c.unplugs ? volumeC : L"";
        ChangeWatcher shell;
        ShellUiScript ui(c.browse);
        InfoDialogOwner owner(c.steps);
        volumes.SetDriveType(L'K', c.driveType);
        if (!c.record.empty()) volumes.SetRawReparse(c.mounted, c.record);
        IContextMenu* menu = Selected<IContextMenu>(c.mounted);
        EXPECT_EQ(Invoke(menu, owner.Window()), S_OK);
        EXPECT_EQ(owner.userData, reinterpret_cast<LONG_PTR>(static_cast<ReparsePointObject*>(menu)));
        menu->Release();
        EXPECT_EQ(owner.edits, c.edits);
        ExpectSaid(ui.messages, c.said);
        EXPECT_EQ(Target(c.mounted), c.after);
        if (!c.record.empty()) EXPECT_EQ(volumes.ReparseData(c.mounted), c.record) << "not put back byte for byte";
        EXPECT_EQ(shell.Drain().size(), c.notices);
        // The browser opens on the shown target when it is a folder, else on the folder itself.
        EXPECT_EQ(ui.browserStatus.size(), c.browse.size());
        if (!ui.browserStatus.empty()) EXPECT_TRUE(EqualPath(ui.browserStatus[0], c.opensOn)) << Narrow(ui.browserStatus[0]);
        volumes.MakeJunction(junction, data);
    }
    ReplaceKernelApi(previous);
    RemoveDirectoryW(lost.c_str());
    RemoveDirectoryW(inside.c_str());
}

// A standard user's mount, removal or change is made whole by the helper after one prompt where
// this token is refused, or not at all; junctions the user may write never prompt.
TEST_F(ReparseInfo, AStandardUserIsAskedOnceForWhatOnlyAdministratorsMayChange) {
    const std::wstring volume = volumeC.substr(4), removeVolume = L"delete-volume-mount \"\\\\?\\" + volumeMount + L"\"";
    const int none = 0, remove = 201, change = 202;
    struct Case { const char* name; std::wstring item, browse; int step; bool adminOnly, declines; Said said; std::wstring after, command; };
    const Case cases[] = {
        {"a drive mounted", folder, L"C:\\", none, false, false, kSet, volume, L"set-volume-mount "},
        {"a drive mounted, declined", folder, L"C:\\", none, false, true, kDeclined, L"", L"set-volume-mount "},
        {"a junction the user may write", folder, data, none, false, false, kSet, data + L"\\", L""},
        {"a volume mount removed", volumeMount, L"", remove, false, false, kRemoved, L"", removeVolume},
        {"a volume mount removed, declined", volumeMount, L"", remove, false, true, kDeclined, volume, removeVolume},
        {"a volume mount to a folder", volumeMount, other, change, false, false, kChanged, other + L"\\", L"replace-mount "},
        {"a volume mount to a folder, declined", volumeMount, other, change, false, true, kDeclined, volume, L"replace-mount "},
        {"a junction to a drive", junction, L"C:\\", change, false, false, kChanged, volume, L"replace-mount "},
        {"a junction to a drive, declined", junction, L"C:\\", change, false, true, kDeclined, data + L"\\", L"replace-mount "},
        {"a junction in an administrators' folder changed", junction, other, change, true, false, kChanged, other + L"\\", L"replace-mount "},
        {"a junction in an administrators' folder", folder, data, none, true, false, kSet, data + L"\\", L"set-junction "},
        {"a junction in an administrators' folder, declined", folder, data, none, true, true, kDeclined, L"", L"set-junction "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        volumes.SetElevated(false);
        if (c.adminOnly) volumes.SetAdminOnly(c.item);
        FakeElevation::declines = c.declines;
        FakeElevation::commands.clear();
        ShellUiScript ui(c.browse.empty() ? std::vector<std::wstring>{} : std::vector<std::wstring>{c.browse});
        InfoDialogOwner owner({InfoDialogOwner::Press(c.step)});
        EXPECT_EQ(RunItem(c.item, owner.Window()), S_OK);
        ExpectSaid(ui.messages, {c.said});
        EXPECT_EQ(Target(c.item), c.after);
        EXPECT_EQ(volumes.MountManagerLists(volumeMount), Target(volumeMount) == volume);
        ASSERT_EQ(FakeElevation::commands.size(), c.command.empty() ? 0u : 1u);
        if (!c.command.empty()) EXPECT_EQ(FakeElevation::commands[0].rfind(c.command, 0), 0u) << Narrow(FakeElevation::commands[0]);
        volumes.SetElevated(true);
        RemoveReparsePoint(c.item.c_str());
        if (c.item == junction) volumes.MakeJunction(junction, data);
        if (c.item == volumeMount) volumes.MakeMount(volumeMount, volumeC);
    }
}

// A symbolic link to a folder is shown as such, offers no change, and goes whole when removed.
TEST_F(ReparseInfo, AFolderLinkIsShownAndRemovedAsALink) {
    const std::wstring link = root + L"\\link";
    volumes.MakeSymbolicLink(link, data, true);
    const auto look = [](HWND dialog) { // runs before the removal, as the edits below show
        wchar_t text[128] = {};
        EXPECT_EQ(std::wstring(text, GetDlgItemTextW(dialog, 204, text, 128)), L"このフォルダは以下のフォルダへのシンボリックリンクです。");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 202))) << "a change offered for a folder link";
    };
    ShellUiScript ui;
    InfoDialogOwner owner({look, InfoDialogOwner::Press(201)});
    EXPECT_EQ(RunItem(link, owner.Window()), S_OK);
    EXPECT_EQ(owner.edits, (std::vector<std::wstring>{data, data, L""}));
    ExpectSaid(ui.messages, {{L"シンボリックリンクを削除しました。", IDI_ASTERISK}});
    EXPECT_TRUE(!volumes.Exists(link) && volumes.Exists(data));
}

// A relative link (SYMLINK_FLAG_RELATIVE) shows its stored text and the folder it leads to.
TEST_F(ReparseInfo, ARelativeFolderLinkShowsItsTextAndItsFolder) {
    const std::wstring link = root + L"\\relative", stored = L"..\\" + root.substr(3) + L"\\data";
    volumes.MakeSymbolicLink(link, stored, true, true);
    ShellUiScript ui;
    InfoDialogOwner owner({});
    EXPECT_EQ(RunItem(link, owner.Window()), S_OK);
    EXPECT_EQ(owner.edits, (std::vector<std::wstring>{stored + L" (" + data + L")"}));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ReparseInfo, AnUnreadableTargetIsToldInstead) {
    volumes.SetReparseUnreadable(junction);
    IContextMenu* unreadable = Selected<IContextMenu>(junction);
    IContextMenu* vanished = Selected<IContextMenu>(folder);
    volumes.SetDenied(root); // the folder's attributes cannot be read any more: it counts as mounted
    for (IContextMenu* menu : {unreadable, vanished}) {
        SCOPED_TRACE(menu == unreadable ? "unreadable" : "vanished");
        ShellUiScript ui;
        InfoDialogOwner owner({});
        EXPECT_EQ(Invoke(menu, owner.Window()), S_OK);
        ExpectSaid(ui.messages, {{L"リパースポイント情報の読み取りに失敗しました。", IDI_HAND}});
        EXPECT_TRUE(owner.edits.empty());
        menu->Release();
    }
}

// The dialog's controls are the common controls 6 (themed) in any host, also in this test program,
// which has no manifest of its own.
TEST_F(ReparseInfo, TheDialogUsesTheCommonControlsOfVersion6) {
    LONG_PTR buttons = 0;
    InfoDialogOwner owner({[&](HWND dialog) { buttons = GetClassLongPtrW(GetDlgItem(dialog, IDOK), GCLP_HMODULE); }});
    EXPECT_EQ(RunItem(junction, owner.Window()), S_OK);
    EXPECT_NE(buttons, reinterpret_cast<LONG_PTR>(GetModuleHandleW(L"user32.dll")));
}

TEST_F(ReparseInfo, TheDialogCentresOnItsOwnersTopLevelWindow) {
    InitCommonControls();
    auto make = [](const wchar_t* type, HWND parent, int x, int y, int cx, int cy) {
        return CreateWindowExW(0, type, L"", parent ? WS_CHILD : WS_OVERLAPPEDWINDOW, x, y, cx, cy, parent, nullptr,
                               nullptr, nullptr);
    };
    HWND frame = make(L"STATIC", nullptr, 40, 30, 900, 700);
    HWND tree = make(WC_TREEVIEWW, make(L"STATIC", make(L"STATIC", frame, 0, 0, 300, 600), 5, 5, 250, 500), 0, 0, 200, 40);
    HWND lonelyTree = make(WC_TREEVIEWW, nullptr, 500, 400, 300, 200); // no third ancestor
    HWND plain = make(L"STATIC", nullptr, 300, 200, 400, 300);
    HWND list = make(WC_LISTVIEWW, make(L"STATIC", frame, 320, 10, 500, 600), 0, 0, 400, 300); // the folder view
    for (auto [owned, reference] : {std::pair{tree, frame}, {lonelyTree, lonelyTree}, {plain, plain}, {list, frame}}) {
        SCOPED_TRACE(owned == tree ? "tree" : owned == lonelyTree ? "lonely tree" : owned == list ? "list" : "plain");
        InfoDialogOwner owner({}, owned);
        EXPECT_EQ(RunItem(junction, owned), S_OK);
        RECT around, dialog = owner.dialogRect;
        GetWindowRect(reference, &around);
        EXPECT_NEAR(dialog.left + dialog.right, around.left + around.right, 1);
        EXPECT_NEAR(dialog.top + dialog.bottom, around.top + around.bottom, 1);
    }
    for (HWND window : {frame, lonelyTree, plain}) DestroyWindow(window);
}

} // namespace
} // namespace kestrune::testing
