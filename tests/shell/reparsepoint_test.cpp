// The ReparsePoint menu, create flow and overlay through their COM interfaces, on the test volumes.
// The folder browser is the real one: the folders it picks exist on Wine's drive K: as well.
#include "tests/com/dll_module.h"
#include "tests/shell/change_watcher.h"
#include "tests/shell/reparse_fixture.h"
#include "tests/shell/shell_ui_script.h"
#include "ntfs/reparse/reparse.h"

namespace kestrune::testing {
namespace {

using ReparsePointMenu = ReparseFixture;

TEST_F(ReparsePointMenu, InitializeTakesOneEmptyOrMountedNtfsFolder) {
    volumes.MakeFile(root + L"\\file.txt");
    volumes.MakeFolder(L"F:\\fat");
    std::wstring fits = root + L"\\" + std::wstring(MAX_PATH - 2 - root.size(), L'y'); // 259 characters
    volumes.MakeFolder(fits);
    const std::wstring cloud = root + L"\\cloud";
    volumes.MakeFolder(cloud);
    volumes.MakeFolder(cloud + L"\\empty"); // an empty placeholder
    volumes.MakeFile(cloud + L"\\synced.txt");
    volumes.MakeCloudSyncRoot(cloud);
    volumes.AddVolume(L'G');
    volumes.AddAttributes(L"G:\\", FILE_ATTRIBUTE_REPARSE_POINT); // as Wine reports a mounted drive's root
    // On a share the server resolves mounts on its own drives: one is shown, none is set.
    volumes.AddShare(L"\\\\srv\\share");
    volumes.AddDriveAlias(L'M', L"\\\\srv\\share");
    volumes.MakeFolder(L"\\\\srv\\share\\empty");
    volumes.MakeJunction(L"\\\\srv\\share\\j", L"C:\\data");
    const std::pair<std::vector<std::wstring>, HRESULT> cases[] = {
        {{cloud}, E_INVALIDARG}, {{cloud + L"\\empty"}, E_INVALIDARG},
        {{L"C:\\"}, E_INVALIDARG}, {{L"G:\\"}, E_INVALIDARG}, // roots: empty, unreadable point
        {{L"\\\\srv\\share\\empty"}, E_INVALIDARG}, {{L"M:\\empty"}, E_INVALIDARG}, {{L"\\\\srv\\share\\j"}, S_OK},
        {{folder}, S_OK}, {{junction}, S_OK}, {{fits}, S_OK}, {{}, E_INVALIDARG}, {{folder, data}, E_INVALIDARG},
        {{root}, E_INVALIDARG}, {{root + L"\\file.txt"}, E_INVALIDARG}, {{L"F:\\fat"}, E_INVALIDARG},
        {{root + L"\\missing"}, E_INVALIDARG}, {{fits + L"\\z"}, E_INVALIDARG}, // never cut to `fits`
    };
    for (auto& [paths, expected] : cases) {
        SCOPED_TRACE(Narrow(paths.empty() ? L"(no path)" : paths[0]));
        IShellExtInit* init = New<IShellExtInit>();
        HDropDataObject selection(paths);
        EXPECT_EQ(init->Initialize(nullptr, &selection, nullptr), expected) ;
        EXPECT_EQ(selection.OutstandingMedia(), 0);
        HDropDataObject refusing({folder}, true);
        EXPECT_EQ(init->Initialize(nullptr, &refusing, nullptr), E_FAIL);
        EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
        init->Release();
    }
}

TEST_F(ReparsePointMenu, TheItemAndItsHelpTextFollowTheFolder) {
    const wchar_t* texts[][2] = {{L"リパースポイントの作成(&A)", L"ここに他のフォルダやドライブをマウントします。"},
                                 {L"リパースポイント情報(&A)", L"このリパースポイントに関する情報を表示します。"}};
    for (int mounted = 0; mounted < 2; ++mounted) {
        IContextMenu* menu = Selected<IContextMenu>(mounted ? junction : folder);
        HMENU popup = CreatePopupMenu();
        AppendMenuW(popup, MF_STRING, 1, L"first");
        AppendMenuW(popup, MF_STRING, 2, L"last");
        EXPECT_EQ(menu->QueryContextMenu(popup, 1, 100, 200, CMF_DEFAULTONLY), S_OK);
        EXPECT_EQ(GetMenuItemCount(popup), 2);
        EXPECT_EQ(menu->QueryContextMenu(popup, 1, 100, 200, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1));
        wchar_t item[64] = {};
        GetMenuStringW(popup, 1, item, 64, MF_BYPOSITION);
        EXPECT_EQ(std::wstring(item), texts[mounted][0]);
        EXPECT_EQ(GetMenuItemID(popup, 1), 100u);
        DestroyMenu(popup);

        std::wstring help = texts[mounted][1];
        wchar_t wide[65];
        for (auto [type, chars] : {std::pair{GCS_HELPTEXTW, 64u}, {GCS_HELPTEXTW, 5u}}) {
            SCOPED_TRACE("type " + std::to_string(type) + ", " + std::to_string(chars) + " characters");
            wmemset(wide, L'#', 65);
            EXPECT_EQ(menu->GetCommandString(0, type, nullptr, reinterpret_cast<char*>(wide), chars), S_OK);
            EXPECT_EQ(std::wstring(wide), help.substr(0, chars - 1));
            EXPECT_EQ(wide[chars], L'#');
        }
        char ansi[128];
        std::string whole(128, '\0');
        whole.resize(WideCharToMultiByte(CP_ACP, 0, help.c_str(), -1, whole.data(), 128, nullptr, nullptr) - 1);
        EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, ansi, 128), S_OK);
        EXPECT_EQ(std::string(ansi), whole);
        for (UINT bytes : {1u, 6u, 7u, 12u}) { // never past cchMax, never half a double-byte character
            SCOPED_TRACE(std::to_string(bytes) + " bytes");
            memset(ansi, '#', sizeof ansi);
            EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, ansi, bytes), S_OK);
            std::string cut = ansi;
            EXPECT_LT(cut.size(), bytes);
            EXPECT_GE(cut.size() + 2, bytes);
            EXPECT_EQ(ansi[bytes], '#');
            EXPECT_EQ(whole.substr(0, cut.size()), cut);
            wchar_t back[64] = {};
            MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, back, 64);
            EXPECT_EQ(help.substr(0, wcslen(back)), back);
        }
        // The verb is ASCII and the same in every language; validation asks only whether the item is ours.
        const std::string verb = mounted ? "KestruneMountInformation" : "KestruneCreateMount";
        ASSERT_EQ(menu->GetCommandString(0, GCS_VERBA, nullptr, ansi, 128), S_OK);
        EXPECT_EQ(std::string(ansi), verb);
        ASSERT_EQ(menu->GetCommandString(0, GCS_VERBW, nullptr, reinterpret_cast<char*>(wide), 64), S_OK);
        EXPECT_EQ(std::wstring(wide), std::wstring(verb.begin(), verb.end()));
        EXPECT_EQ(menu->GetCommandString(0, GCS_VERBA, nullptr, ansi, 5), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
        for (UINT type : {GCS_VALIDATEA, GCS_VALIDATEW}) EXPECT_EQ(menu->GetCommandString(0, type, nullptr, nullptr, 0), S_OK);
        EXPECT_EQ(menu->GetCommandString(1, GCS_VALIDATEW, nullptr, nullptr, 0), S_FALSE); // no such item
        menu->Release();
    }
}

TEST_F(ReparsePointMenu, OnlyCommandOffsetZeroOrItsVerbRuns) {
    IContextMenu* menu = Selected<IContextMenu>(folder);
    // A verb string at an address whose low 32 bits are zero.
    char* high = nullptr;
    for (UINT_PTR at = 0x100000000; !high && at < 0x1000000000; at += 0x100000000)
        high = static_cast<char*>(VirtualAlloc(reinterpret_cast<void*>(at), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_TRUE(high && (reinterpret_cast<UINT_PTR>(high) & 0xFFFFFFFF) == 0);
    strcpy(high, "mount");
    ShellUiScript ui;
    const LPCSTR verbs[] = {"mount", MAKEINTRESOURCEA(1), high};
    for (LPCSTR verb : verbs) EXPECT_EQ(Invoke(menu, nullptr, verb), E_INVALIDARG);
    EXPECT_EQ(menu->InvokeCommand(nullptr), E_INVALIDARG);
    EXPECT_EQ(Invoke(menu, nullptr, "KestruneMountInformation"), E_INVALIDARG) << "not this folder's item";
    // Its verb, also as the wide one, is this item; without a user interface the flow cannot ask.
    CMINVOKECOMMANDINFOEX wide = {};
    wide.cbSize = sizeof wide;
    wide.fMask = CMIC_MASK_UNICODE | CMIC_MASK_FLAG_NO_UI;
    wide.lpVerb = "other";
    wide.lpVerbW = L"KestruneCreateMount";
    EXPECT_EQ(menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&wide)), HRESULT_FROM_WIN32(ERROR_CANCELLED));
    wide.lpVerbW = L"mount";
    EXPECT_EQ(menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&wide)), E_INVALIDARG);
    EXPECT_TRUE(ui.browserStatus.empty() && ui.messages.empty());
    VirtualFree(high, 0, MEM_RELEASE);
    menu->Release();
}

TEST_F(ReparsePointMenu, TheCreateFlowMountsWhatTheBrowserPicks) {
    volumes.SetShortName(root, L"MOUNT-~1");
    struct Case {
        const char* name;
        std::wstring selected;
        std::vector<std::wstring> browse;
        std::vector<int> answers;
        std::vector<Said> said;
        std::wstring mounted;
        size_t notices; // the folder's content, and the folder itself when a mount was set
        UINT driveTypeOfC = DRIVE_FIXED;
    };
    const Case cases[] = {
        {"a folder becomes a junction", folder, {data}, {}, {kSet}, data + L"\\", 2},
        {"the folder itself, other case", Upper(folder), {folder, L""}, {}, {kSelf}, L"", 0},
        {"the folder itself, by its short name", L"K:\\MOUNT-~1\\x", {folder, L""}, {}, {kSelf}, L"", 0},
        {"the folder itself, with a backslash", folder + L"\\", {folder, L""}, {}, {kSelf}, L"", 0},
        {"above the folder, No", folder, {root, L""}, {IDNO}, {kAncestor}, L"", 0},
        {"above the folder, Yes: its drive", folder, {L"K:\\"}, {IDYES}, {kAncestor, kSet}, VolumeOf(L'K'), 2},
        {"another drive", folder, {L"C:\\"}, {}, {kSet}, VolumeOf(L'C'), 2},
        {"a drive that cannot be mounted", folder, {L"Z:\\"}, {}, {kNotSet}, L"", 1},
        {"a mapped network drive", folder, {L"C:\\"}, {}, {kNotLocal}, L"", 0, DRIVE_REMOTE},
        {"a folder of a mapped network drive", folder, {L"C:\\windows"}, {}, {kNotLocal}, L"", 0, DRIVE_REMOTE},
        {"cancelled", folder, {L""}, {}, {}, L"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChangeWatcher shell;
        ShellUiScript ui(c.browse, c.answers);
        volumes.SetDriveType(L'C', c.driveTypeOfC);
        EXPECT_EQ(RunItem(c.selected), S_OK);
        ExpectSaid(ui.messages, c.said);
        EXPECT_EQ(Target(folder), c.mounted);
        EXPECT_EQ(ui.browserStatus.size(), c.browse.size());
        EXPECT_TRUE(EqualPath(ui.browserStatus.at(0), folder)) << "preselected: " << Narrow(ui.browserStatus.at(0));
        auto seen = shell.Drain();
        EXPECT_EQ(seen.size(), c.notices);
        for (size_t i = 0; i < seen.size(); ++i)
            EXPECT_TRUE(seen[i].first == (i ? SHCNE_UPDATEITEM : SHCNE_UPDATEDIR) && EqualPath(seen[i].second, folder))
                << seen[i].first << " " << Narrow(seen[i].second);
        volumes.SetRawReparse(folder, {});
    }
}

TEST_F(ReparsePointMenu, TheCreateFlowNeedsTheFolderStillEmpty) {
    IContextMenu* menu = Selected<IContextMenu>(folder);
    volumes.MakeFile(folder + L"\\late.txt");
    ShellUiScript ui({data});
    EXPECT_EQ(Invoke(menu), S_OK);
    ExpectSaid(ui.messages, {{L"リパースポイント属性は空のフォルダにしか設定できません。", IDI_HAND}});
    EXPECT_TRUE(ui.browserStatus.empty());
    menu->Release();
}

TEST_F(ReparsePointMenu, TheOverlayMarksJunctionsOnly) {
    volumes.MakeJunction(root + L"\\unreadable", data);
    volumes.SetReparseUnreadable(root + L"\\unreadable");
    IShellIconOverlayIdentifier* overlay = New<IShellIconOverlayIdentifier>(IID_IShellIconOverlayIdentifier);
    const std::pair<std::wstring, HRESULT> cases[] = {{junction, S_OK}, {volumeMount, S_FALSE}, {folder, S_FALSE},
                                                      {root + L"\\missing", S_FALSE}, {root + L"\\unreadable", S_FALSE}};
    for (auto& [path, expected] : cases) EXPECT_EQ(overlay->IsMemberOf(path.c_str(), 0), expected) << Narrow(path);
    // Explorer's attributes decide before the disk is asked.
    volumes.ResetStats();
    for (DWORD attributes : {FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, FILE_ATTRIBUTE_OFFLINE})
        EXPECT_EQ(overlay->IsMemberOf(junction.c_str(), attributes), S_FALSE) << attributes;
    EXPECT_EQ(volumes.Stats().kernelCalls, 0);
    // The tag is read by name where the system offers it, else by a search; placeholders are never opened.
    volumes.MakeFolder(root + L"\\cloud");
    volumes.MakeCloudSyncRoot(root + L"\\cloud");
    volumes.AddShare(L"\\\\srv\\share");
    volumes.MakeJunction(L"\\\\srv\\share\\j", data);
    const struct { const char* name; std::wstring path; bool byName; HRESULT member; long long opens, searches; } rows[] = {
        {"junction", junction, false, S_OK, 1, 1}, {"junction, by name", junction, true, S_OK, 1, 0}, {"network path", L"\\\\srv\\share\\j", true, S_FALSE, 0, 0},
        {"cloud folder", root + L"\\cloud", false, S_FALSE, 0, 1}, {"cloud folder, by name", root + L"\\cloud", true, S_FALSE, 0, 0},
    };
    for (const auto& row : rows) {
        volumes.SetByNameQueryPresent(row.byName);
        volumes.ResetStats();
        EXPECT_EQ(overlay->IsMemberOf(row.path.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), row.member) << row.name;
        EXPECT_EQ(std::pair(volumes.Stats().fileOpens, volumes.Stats().findFirsts), std::pair(row.opens, row.searches)) << row.name;
    }
    wchar_t file[MAX_PATH] = {}, own[MAX_PATH] = {};
    int index = -1, priority = 0;
    DWORD flags = 0;
    ASSERT_EQ(overlay->GetOverlayInfo(file, MAX_PATH, &index, &flags), S_OK);
    GetModuleFileNameW(Module().instance, own, MAX_PATH);
    EXPECT_STREQ(file, own);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(flags, static_cast<DWORD>(ISIOI_ICONFILE | ISIOI_ICONINDEX));
    EXPECT_EQ(overlay->GetPriority(&priority), S_OK);
    EXPECT_EQ(priority, 0);
    overlay->Release();
}

// End to end through the built DLL on Wine's drive K:, as far as the platform goes.
TEST_F(ReparsePointMenu, TheBuiltDllMountsAnEmptyFolderOnWinesDriveOrTellsWhyNot) {
    DllModule dll;
    IClassFactory* factory = nullptr;
    ASSERT_EQ(dll.getClassObject(CLSID_ReparsePoint, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IShellExtInit* init = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    factory->Release();
    HDropDataObject selection({folder});
    HRESULT accepted = init->Initialize(nullptr, &selection, nullptr);
    IContextMenu* menu = nullptr;
    init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
    init->Release();
    ShellUiScript ui({data});
    if (accepted == S_OK) EXPECT_EQ(Invoke(menu), S_OK);
    menu->Release();
    if (accepted != S_OK) GTEST_SKIP() << "Wine does not report K: as NTFS: the menu is refused";
    bool set = GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT;
    ExpectSaid(ui.messages, {set ? kSet : kNotSet});
    if (!set) GTEST_SKIP() << "Wine sets no junction (FSCTL_SET_REPARSE_POINT fails): the failure was told";
}

} // namespace
} // namespace kestrune::testing
