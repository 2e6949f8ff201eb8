// The HardLink handler through its COM interfaces, on the test volumes and on Wine's own drive.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "kestrune_h.h"
#include "server/com_object.h"
#include "server/module.h"
#include "shell/hardlink/hardlink_object.h"
#include "tests/com/dll_module.h"
#include "tests/com/hdrop_data_object.h"
#include "tests/com/message_box_watcher.h"
#include "tests/fake/leak_checked_test.h"
#include "tests/shell/change_watcher.h"
#include "tests/shell/page_driver.h"

namespace kestrune::testing {
namespace {

const wchar_t kFailureText[] = L"次の項目のリンクを作成できませんでした。";

class Pidl {
public:
    explicit Pidl(const std::wstring& path) : pidl_(SHSimpleIDListFromPath(path.c_str())) {}
    ~Pidl() { CoTaskMemFree(pidl_); }
    Pidl(const Pidl&) = delete;
    Pidl& operator=(const Pidl&) = delete;
    PCIDLIST_ABSOLUTE Get() const { return pidl_; }

private:
    PIDLIST_ABSOLUTE pidl_;
};

class HardLinkHandler : public LeakCheckedTest {
protected:
    HardLinkHandler() {
        volumes.AddVolume(L'D');
        volumes.AddVolume(L'E');
        volumes.AddVolume(L'F', VolumeOptions{L"FAT"});
        volumes.AddShare(L"\\\\srv\\share");
        volumes.MakeFile(L"\\\\srv\\share\\in.txt");
        volumes.MakeFolder(L"D:\\docs");
        volumes.MakeFolder(L"D:\\work");
        volumes.MakeFile(L"D:\\docs\\report.txt", "report");
        volumes.MakeFolder(L"E:\\other");
        locksBefore = Module().lockCount;
    }
    ~HardLinkHandler() override { EXPECT_EQ(Module().lockCount, locksBefore) << "module lock left behind"; }

    IShellExtInit* NewHandler() {
        IShellExtInit* init = nullptr;
        EXPECT_EQ(CreateComObject<HardLinkObject>(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
        return init;
    }
    HRESULT Drop(IShellExtInit* init, const std::wstring& target, std::vector<std::wstring> files) {
        Pidl folder(target);
        HDropDataObject data(std::move(files));
        HRESULT result = init->Initialize(folder.Get(), &data, nullptr);
        EXPECT_EQ(data.OutstandingMedia(), 0) << "the storage medium was not released";
        EXPECT_EQ(data.References(), 1);
        return result;
    }
    HRESULT DropOne(const std::wstring& target, const std::wstring& file) {
        IShellExtInit* init = NewHandler();
        HRESULT result = Drop(init, target, {file});
        init->Release();
        return result;
    }
    // Drops `items` on `target` and makes links of `kind` as the worker does; returns what message boxes said.
    std::vector<SeenMessage> MakeLinks(const std::wstring& target, std::vector<std::wstring> items,
                                       LinkKind kind = LinkKind::Hard, bool ui = true) {
        IShellExtInit* init = NewHandler();
        EXPECT_EQ(Drop(init, target, std::move(items)), S_OK);
        std::vector<SeenMessage> seen = MakeLinks(init, kind, ui);
        init->Release();
        return seen;
    }
    static std::vector<SeenMessage> MakeLinks(IShellExtInit* init, LinkKind kind = LinkKind::Hard, bool ui = true) {
        MessageBoxWatcher watcher;
        static_cast<HardLinkObject*>(init)->MakeLinks(kind, nullptr, ui);
        return watcher.Seen();
    }
    std::vector<SeenMessage> CreateLink(const std::wstring& target, const std::wstring& file) { return MakeLinks(target, {file}); }
    // The menu's items after a drop, one letter each: H hard link, S symbolic link, J junction.
    std::string Offers(const std::wstring& target, std::vector<std::wstring> items) {
        IShellExtInit* init = NewHandler();
        std::string offered = Drop(init, target, std::move(items)) == S_OK ? "" : "-";
        IContextMenu* menu = nullptr;
        init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
        HMENU popup = CreatePopupMenu();
        HRESULT used = menu->QueryContextMenu(popup, 0, 100, 200, CMF_NORMAL);
        for (int i = 0; i < GetMenuItemCount(popup); ++i) offered += "HSJ"[GetMenuItemID(popup, i) - 100];
        if (HRESULT_CODE(used) != (offered.empty() || offered == "-" ? 0 : offered.back() == 'J' ? 3 : offered.back() == 'S' ? 2 : 1))
            offered += "?";
        DestroyMenu(popup);
        menu->Release();
        init->Release();
        return offered;
    }
    LONG locksBefore = 0;
    // Until the workers let go of the module. The shell's notices reach this thread's window: it
    // pumps while it waits.
    void WaitForWorkers() {
        EXPECT_TRUE(PumpUntil([&] { return Module().lockCount == locksBefore; })) << "the worker did not end";
    }
};

TEST_F(HardLinkHandler, OneExistingNtfsFileOnTheSameVolumeIsAccepted) {
    EXPECT_TRUE(SHSimpleIDListFromPath(L"D:\\work")) << "simple item ID lists are needed for these tests";
    EXPECT_EQ(DropOne(L"D:\\work", L"D:\\docs\\report.txt"), S_OK);
    EXPECT_EQ(DropOne(L"D:\\", L"D:\\docs\\report.txt"), S_OK);
}

TEST_F(HardLinkHandler, InitializeRefusesEverythingElse) {
    IShellExtInit* init = NewHandler();
    HDropDataObject one({L"D:\\docs\\report.txt"});
    Pidl folder(L"D:\\work");
    EXPECT_EQ(init->Initialize(nullptr, &one, nullptr), E_INVALIDARG);
    EXPECT_EQ(init->Initialize(folder.Get(), nullptr, nullptr), E_INVALIDARG);
    HDropDataObject refusing({L"D:\\docs\\report.txt"}, true);
    EXPECT_EQ(init->Initialize(folder.Get(), &refusing, nullptr), E_FAIL);
    EXPECT_EQ(Drop(init, L"D:\\work", {}), E_INVALIDARG);
    EXPECT_EQ(Drop(init, L"D:\\work", {L"D:\\docs\\missing.txt"}), E_INVALIDARG);
    EXPECT_EQ(Drop(init, L"D:\\work", {L"D:\\docs\\report.txt", L"D:\\docs\\missing.txt"}), E_INVALIDARG);
    volumes.MakeFile(L"F:\\fat.txt");
    EXPECT_EQ(Drop(init, L"F:\\", {L"F:\\fat.txt"}), E_INVALIDARG);
    volumes.MakeFolder(L"\\\\srv\\share\\in");
    EXPECT_EQ(Drop(init, L"\\\\srv\\share\\in", {L"D:\\docs\\report.txt"}), E_INVALIDARG);
    // A path too long for the handler's buffer is refused rather than cut to another name.
    EXPECT_EQ(Drop(init, L"D:\\work", {L"D:\\docs\\" + std::wstring(300, L'x')}), E_INVALIDARG);
    init->Release();
}

TEST_F(HardLinkHandler, FilesAndTargetsCountWithTheVolumeTheyLieOn) {
    volumes.MakeJunction(L"E:\\toD", L"D:\\work");
    volumes.MakeJunction(L"D:\\toE", L"E:\\other");
    volumes.MakeSymbolicLink(L"D:\\linkToE", L"E:\\other", true);
    volumes.MakeMount(L"D:\\mnt", volumes.AddUnletteredVolume());
    volumes.MakeFolder(L"D:\\mnt\\in");
    volumes.MakeFile(L"D:\\mnt\\f.txt");
    volumes.AddDriveAlias(L'S', L"D:\\docs");
    const struct { const char* name; const wchar_t *target, *file; const char* offered; } rows[] = {
        {"junction to D", L"E:\\toD", L"D:\\docs\\report.txt", "HS"},
        {"junction to E", L"D:\\toE", L"D:\\docs\\report.txt", "S"},
        {"directory link to E", L"D:\\linkToE", L"D:\\docs\\report.txt", "S"},
        {"letterless volume", L"D:\\mnt\\in", L"D:\\mnt\\f.txt", "HS"},
        {"letterless volume and D", L"D:\\work", L"D:\\mnt\\f.txt", "S"},
        {"SUBST letter of D's folder", L"D:\\work", L"S:\\report.txt", "HS"},
    };
    for (const auto& row : rows) EXPECT_EQ(Offers(row.target, {row.file}), row.offered) << row.name;
}

TEST_F(HardLinkHandler, EachKindIsOfferedOnlyWhenEveryItemCanTakeIt) {
    volumes.MakeFolder(L"D:\\docs\\sub");
    volumes.MakeFile(L"D:\\docs\\second.txt");
    volumes.MakeFile(L"E:\\other\\far.txt");
    volumes.MakeFolder(L"\\\\srv\\share\\dir");
    volumes.MakeFile(L"F:\\fat.txt");
    volumes.MakeFolder(L"F:\\fatdir");
    const struct { const char* name; const wchar_t* target; std::vector<std::wstring> items; const char* offered; } rows[] = {
        {"two files", L"D:\\work", {L"D:\\docs\\report.txt", L"D:\\docs\\second.txt"}, "HS"},
        {"a folder", L"D:\\work", {L"D:\\docs\\sub"}, "SJ"},
        {"a file and a folder", L"D:\\work", {L"D:\\docs\\report.txt", L"D:\\docs\\sub"}, "S"},
        {"files of two volumes", L"D:\\work", {L"D:\\docs\\report.txt", L"E:\\other\\far.txt"}, "S"},
        {"a file of a share", L"D:\\work", {L"\\\\srv\\share\\in.txt"}, "S"},
        {"a folder of a share", L"D:\\work", {L"\\\\srv\\share\\dir"}, "S"},
        {"a FAT folder into NTFS", L"D:\\work", {L"F:\\fatdir"}, "SJ"},
        {"into a FAT folder", L"F:\\fatdir", {L"F:\\fat.txt"}, "-"},
        {"into a share", L"\\\\srv\\share\\dir", {L"D:\\docs\\sub"}, "-"},
    };
    for (const auto& row : rows) EXPECT_EQ(Offers(row.target, row.items), row.offered) << row.name;
    volumes.SetDriveType(L'E', DRIVE_REMOTE);
    EXPECT_EQ(Offers(L"D:\\work", {L"E:\\other"}), "S") << "a folder of a mapped network drive";
    EXPECT_EQ(Offers(L"E:\\other", {L"D:\\docs\\sub"}), "-") << "into a mapped network drive";
}

TEST_F(HardLinkHandler, TheMenuOffersTheKindsInTheUserInterfaceLanguage) {
    IShellExtInit* init = NewHandler();
    ASSERT_EQ(Drop(init, L"D:\\work", {L"D:\\docs\\report.txt"}), S_OK);
    IContextMenu* menu = nullptr;
    ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, 1, L"first");
    AppendMenuW(popup, MF_STRING, 2, L"last");
    EXPECT_EQ(menu->QueryContextMenu(popup, 1, 100, 200, CMF_DEFAULTONLY), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0));
    EXPECT_EQ(GetMenuItemCount(popup), 2);
    EXPECT_EQ(menu->QueryContextMenu(popup, 1, 100, 200, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2));
    ASSERT_EQ(GetMenuItemCount(popup), 4);
    // An item's text and command, by position; a command's verb, "?" where none is given.
    auto item = [&](int at) {
        wchar_t text[64] = {};
        GetMenuStringW(popup, at, text, 64, MF_BYPOSITION);
        return std::pair(std::wstring(text), GetMenuItemID(popup, at));
    };
    char name[128];
    auto verb = [&](UINT id) { return menu->GetCommandString(id, GCS_VERBA, nullptr, name, 64) == S_OK ? std::string(name) : "?"; };
    EXPECT_EQ(item(1), std::pair(std::wstring(L"ここにハードリンクを作成(&L)"), 100u));
    EXPECT_EQ(item(2), std::pair(std::wstring(L"ここにシンボリックリンクを作成(&S)"), 101u));
    ASSERT_EQ(menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, name, 64), S_OK);
    EXPECT_EQ(std::wstring(reinterpret_cast<wchar_t*>(name)), L"ドラッグしたファイルへのハードリンクをこのフォルダに作成します。");
    EXPECT_EQ(verb(0), "KestruneCreateHardLink");
    volumes.MakeFolder(L"D:\\docs\\sub");
    ASSERT_EQ(Drop(init, L"D:\\work", {L"D:\\docs\\sub"}), S_OK);
    DestroyMenu(popup);
    popup = CreatePopupMenu();
    EXPECT_EQ(menu->QueryContextMenu(popup, 0, 100, 200, CMF_NORMAL), MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3));
    EXPECT_EQ(item(1).first, L"ここにジャンクションを作成(&J)");
    EXPECT_EQ(GetMenuDefaultItem(popup, TRUE, 0), static_cast<UINT>(-1));
    EXPECT_EQ(menu->GetCommandString(0, GCS_VALIDATEW, nullptr, name, 64), S_FALSE) << "a folder takes no hard link";
    EXPECT_EQ(verb(2), "KestruneCreateJunction");
    DestroyMenu(popup);
    menu->Release();
    init->Release();
}

TEST_F(HardLinkHandler, OnlyTheOffsetsOfOfferedKindsAreAccepted) {
    IShellExtInit* init = NewHandler();
    ASSERT_EQ(Drop(init, L"D:\\work", {L"D:\\docs\\report.txt"}), S_OK);
    IContextMenu* menu = nullptr;
    init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
    CMINVOKECOMMANDINFO info = {sizeof info, 0, nullptr, "link", nullptr, nullptr, 0, 0, nullptr};
    EXPECT_EQ(menu->InvokeCommand(&info), E_INVALIDARG);
    info.lpVerb = MAKEINTRESOURCEA(2); // a junction, for a file
    EXPECT_EQ(menu->InvokeCommand(&info), E_INVALIDARG);
    info.lpVerb = MAKEINTRESOURCEA(3);
    EXPECT_EQ(menu->InvokeCommand(&info), E_INVALIDARG);
    // A verb string whose address has its low 32 bits zero is no command offset 0.
    void* high = VirtualAlloc(reinterpret_cast<void*>(0x100000000ull), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    info.lpVerb = high ? static_cast<LPCSTR>(high) : reinterpret_cast<LPCSTR>(0x100000000ull);
    if (high) lstrcpyA(static_cast<char*>(high), "link");
    EXPECT_EQ(menu->InvokeCommand(&info), E_INVALIDARG);
    if (high) VirtualFree(high, 0, MEM_RELEASE);
    EXPECT_EQ(menu->InvokeCommand(nullptr), E_INVALIDARG);
    EXPECT_FALSE(volumes.Exists(L"D:\\work\\report.txt"));
    info.lpVerb = "kestrunecreatehardlink"; // its verb, without regard to case
    EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
    menu->Release();
    init->Release();
    WaitForWorkers();
    EXPECT_TRUE(volumes.Exists(L"D:\\work\\report.txt"));
}

TEST_F(HardLinkHandler, NamesFollowTheSeries) {
    std::wstring tilde = L" \uFF5E ";
    EXPECT_TRUE(CreateLink(L"D:\\work", L"D:\\docs\\report.txt").empty());
    EXPECT_EQ(volumes.LinkCount(L"D:\\work\\report.txt"), 2);
    CreateLink(L"D:\\work", L"D:\\docs\\report.txt");
    EXPECT_TRUE(volumes.Exists(L"D:\\work\\ハードリンク" + tilde + L"report.txt"));
    CreateLink(L"D:\\work", L"D:\\docs\\report.txt");
    EXPECT_TRUE(volumes.Exists(L"D:\\work\\ハードリンク (2)" + tilde + L"report.txt"));
    volumes.MakeFolder(L"D:\\work\\ハードリンク (3)" + tilde + L"report.txt"); // a folder blocks a name too
    CreateLink(L"D:\\work", L"D:\\docs\\report.txt");
    EXPECT_TRUE(volumes.Exists(L"D:\\work\\ハードリンク (4)" + tilde + L"report.txt"));
    EXPECT_EQ(volumes.LinkCount(L"D:\\docs\\report.txt"), 5);
    // Into the file's own folder: the first free name is the second of the series.
    CreateLink(L"D:\\docs", L"D:\\docs\\report.txt");
    EXPECT_TRUE(volumes.Exists(L"D:\\docs\\ハードリンク" + tilde + L"report.txt"));
}

TEST_F(HardLinkHandler, EachKindNamesItsLinksWithItsOwnWords) {
    volumes.MakeFolder(L"D:\\docs\\sub");
    const struct { const char* name; LinkKind kind; const wchar_t* item; const wchar_t *second, *third; } rows[] = {
        {"symbolic link", LinkKind::Symbolic, L"D:\\docs\\report.txt", L"シンボリックリンク \uFF5E report.txt", L"シンボリックリンク (2) \uFF5E report.txt"},
        {"junction", LinkKind::Junction, L"D:\\docs\\sub", L"ジャンクション \uFF5E sub", L"ジャンクション (2) \uFF5E sub"},
    };
    for (const auto& row : rows) {
        for (int i = 0; i < 2; ++i) EXPECT_TRUE(MakeLinks(L"D:\\docs", {row.item}, row.kind).empty()) << row.name;
        EXPECT_TRUE(volumes.Exists(L"D:\\docs\\" + std::wstring(row.second))) << row.name;
        EXPECT_TRUE(volumes.Exists(L"D:\\docs\\" + std::wstring(row.third))) << row.name;
    }
}

TEST_F(HardLinkHandler, OneMessageListsWhatCouldNotBeMade) {
    volumes.MakeFile(L"D:\\docs\\second.txt");
    volumes.MakeFile(L"D:\\docs\\third.txt");
    IShellExtInit* init = NewHandler();
    ASSERT_EQ(Drop(init, L"D:\\work", {L"D:\\docs\\report.txt", L"D:\\docs\\second.txt", L"D:\\docs\\third.txt"}), S_OK);
    volumes.Remove(L"D:\\docs\\second.txt");
    volumes.SetDenied(L"D:\\docs\\third.txt");
    std::vector<SeenMessage> seen = MakeLinks(init);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, std::wstring(kFailureText) + L"\nD:\\docs\\second.txt: 項目が見つかりません\nD:\\docs\\third.txt: アクセスが拒否されました");
    EXPECT_TRUE(volumes.Exists(L"D:\\work\\report.txt"));
    init->Release();
    // Without the right to make symbolic links: nothing made, and the one message says what is needed.
    volumes.SetSymbolicLinkRight(SymbolicLinkRight::None);
    seen = MakeLinks(L"D:\\work", {L"D:\\docs\\report.txt"}, LinkKind::Symbolic);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].text.find(L"開発者モード"), std::wstring::npos) << Narrow(seen[0].text);
    EXPECT_TRUE(MakeLinks(L"D:\\work", {L"D:\\docs\\report.txt"}, LinkKind::Symbolic, false).empty()) << "a message without UI";
}

TEST_F(HardLinkHandler, TheCommandMakesTheLinksOnAWorkerThatHoldsTheModule) {
    volumes.MakeFolder(L"D:\\docs\\sub");
    IShellExtInit* init = NewHandler();
    ASSERT_EQ(Drop(init, L"D:\\work", {L"D:\\docs\\sub"}), S_OK);
    IContextMenu* menu = nullptr;
    init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
    CMINVOKECOMMANDINFO info = {sizeof info, CMIC_MASK_FLAG_NO_UI, nullptr, MAKEINTRESOURCEA(2), nullptr, nullptr, 0, 0, nullptr};
    ChangeWatcher changes;
    EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
    menu->Release();
    init->Release();
    WaitForWorkers();
    EXPECT_TRUE(volumes.Attributes(L"D:\\work\\sub") & FILE_ATTRIBUTE_REPARSE_POINT);
    std::vector<std::pair<LONG, std::wstring>> expected = {{SHCNE_MKDIR, L"D:\\work\\sub"}};
    EXPECT_EQ(changes.Drain(), expected);
}

TEST_F(HardLinkHandler, TheShellHearsOfTheNewNameAndTheDraggedFile) {
    ChangeWatcher watcher;
    ASSERT_TRUE(watcher.Registered());
    ASSERT_TRUE(CreateLink(L"D:\\work", L"D:\\docs\\report.txt").empty());
    auto seen = watcher.Drain();
    std::vector<std::pair<LONG, std::wstring>> expected = {{SHCNE_CREATE, L"D:\\work\\report.txt"},
                                                           {SHCNE_UPDATEITEM, L"D:\\docs\\report.txt"}};
    EXPECT_EQ(seen, expected);
}

TEST_F(HardLinkHandler, NamesKeepAMissingOrLeadingDotExtension) {
    volumes.MakeFile(L"D:\\docs\\README");
    volumes.MakeFile(L"D:\\docs\\.profile");
    CreateLink(L"D:\\docs", L"D:\\docs\\README");
    EXPECT_TRUE(volumes.Exists(L"D:\\docs\\ハードリンク \uFF5E README"));
    CreateLink(L"D:\\docs", L"D:\\docs\\.profile");
    EXPECT_TRUE(volumes.Exists(L"D:\\docs\\ハードリンク \uFF5E .profile"));
    CreateLink(L"D:\\", L"D:\\docs\\.profile");
    EXPECT_TRUE(volumes.Exists(L"D:\\.profile"));
}

TEST_F(HardLinkHandler, AFailureIsToldOnceWithTheCaptionAndTheErrorIcon) {
    // The target's name series soon outgrows MAX_PATH: the drop ends with the failure message.
    std::wstring deep = L"D:\\";
    while (deep.size() < 225) {
        deep += std::wstring(40, L'd');
        volumes.MakeFolder(deep);
        deep += L"\\";
    }
    deep.pop_back();
    ASSERT_TRUE(CreateLink(deep, L"D:\\docs\\report.txt").empty()); // report.txt still fits
    std::vector<SeenMessage> seen = CreateLink(deep, L"D:\\docs\\report.txt");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, std::wstring(kFailureText) + L"\nD:\\docs\\report.txt: 名前が長すぎます");
    EXPECT_EQ(seen[0].title, L"Kestrune");
    EXPECT_EQ(seen[0].icon, LoadIconW(nullptr, IDI_HAND));
    EXPECT_TRUE(MakeLinks(deep, {L"D:\\docs\\report.txt"}, LinkKind::Hard, false).empty()) << "a message without UI";
    EXPECT_EQ(volumes.LinkCount(L"D:\\docs\\report.txt"), 2);
}

TEST_F(HardLinkHandler, TheOverlayMarksFilesWithTwoOrMoreLinks) {
    IShellIconOverlayIdentifier* overlay = nullptr;
    ASSERT_EQ(CreateComObject<HardLinkObject>(nullptr, IID_IShellIconOverlayIdentifier,
                                              reinterpret_cast<void**>(&overlay)),
              S_OK);
    EXPECT_EQ(overlay->IsMemberOf(L"D:\\docs\\report.txt", 0), S_FALSE);
    volumes.MakeLink(L"D:\\docs\\report.txt", L"D:\\work\\second.txt");
    EXPECT_EQ(overlay->IsMemberOf(L"D:\\docs\\report.txt", 0), S_OK);
    EXPECT_EQ(overlay->IsMemberOf(L"D:\\work\\second.txt", FILE_ATTRIBUTE_ARCHIVE), S_OK);
    volumes.MakeLink(L"\\\\srv\\share\\in.txt", L"\\\\srv\\share\\in2.txt");
    volumes.AddDriveAlias(L'Z', L"\\\\srv\\share");
    // Explorer's attributes decide first; the drive's type, then one query of the file.
    const struct { const char* name; const wchar_t* path; DWORD attributes; bool byName; HRESULT member; int calls, opens; } rows[] = {
        {"two links", L"D:\\docs\\report.txt", FILE_ATTRIBUTE_ARCHIVE, false, S_OK, 4, 1},
        {"two links, by name", L"D:\\docs\\report.txt", FILE_ATTRIBUTE_ARCHIVE, true, S_OK, 2, 0},
        {"no attributes given", L"D:\\docs\\report.txt", 0, false, S_OK, 5, 1},
        {"folder", L"D:\\docs", FILE_ATTRIBUTE_DIRECTORY, false, S_FALSE, 0, 0},
        {"reparse point", L"D:\\docs\\report.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, true, S_FALSE, 0, 0},
        {"offline", L"D:\\docs\\report.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_OFFLINE, false, S_FALSE, 0, 0},
        {"recall on data access", L"D:\\docs\\report.txt", FILE_ATTRIBUTE_ARCHIVE | 0x400000, true, S_FALSE, 0, 0},
        {"network drive", L"Z:\\in.txt", FILE_ATTRIBUTE_ARCHIVE, false, S_FALSE, 1, 0},
        {"missing", L"D:\\missing", 0, false, S_FALSE, 1, 0},
    };
    for (const auto& row : rows) {
        volumes.SetByNameQueryPresent(row.byName);
        volumes.ResetStats();
        EXPECT_EQ(overlay->IsMemberOf(row.path, row.attributes), row.member) << row.name;
        EXPECT_EQ(volumes.Stats().kernelCalls, row.calls) << row.name;
        EXPECT_EQ(volumes.Stats().fileOpens, row.opens) << row.name;
    }

    wchar_t file[MAX_PATH] = {};
    int index = -1;
    DWORD flags = 0;
    ASSERT_EQ(overlay->GetOverlayInfo(file, MAX_PATH, &index, &flags), S_OK);
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(Module().instance, own, MAX_PATH);
    EXPECT_STREQ(file, own);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(flags, static_cast<DWORD>(ISIOI_ICONFILE | ISIOI_ICONINDEX));
    // A path cut to the caller's buffer, or one that cannot be read, names no icon: a failure.
    wchar_t small[8];
    wmemset(small, L'#', 8);
    EXPECT_EQ(overlay->GetOverlayInfo(small, 4, &index, &flags), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(small[0], L'\0');
    EXPECT_EQ(small[1], L'#');
    HINSTANCE instance = Module().instance;
    Module().instance = reinterpret_cast<HINSTANCE>(0x10);
    EXPECT_TRUE(FAILED(overlay->GetOverlayInfo(file, MAX_PATH, &index, &flags)));
    Module().instance = instance;
    EXPECT_EQ(file[0], L'\0');
    int priority = 0;
    EXPECT_EQ(overlay->GetPriority(&priority), S_OK);
    EXPECT_EQ(priority, 0);
    overlay->Release();
}

TEST(HardLinkOnWineDrive, TheDllCreatesARealLink) {
    CoInitialize(nullptr);
    DllModule dll;
    ASSERT_NE(dll.module, nullptr);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"kestrune-drop-" + std::to_wstring(GetCurrentProcessId());
    std::wstring target = folder + L"\\target";
    std::wstring file = folder + L"\\report.txt";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(target.c_str(), nullptr);
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(h);
    wchar_t fs[64] = {};
    std::wstring root = folder.substr(0, 3);
    GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fs, 64);
    if (wcscmp(fs, L"NTFS") != 0) GTEST_SKIP() << "Wine's temp drive does not report NTFS";

    IClassFactory* factory = nullptr;
    ASSERT_EQ(dll.getClassObject(CLSID_HardLink, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IShellExtInit* init = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    factory->Release();
    PIDLIST_ABSOLUTE pidl = nullptr;
    ASSERT_EQ(SHParseDisplayName(target.c_str(), nullptr, &pidl, 0, nullptr), S_OK);
    HDropDataObject data({file});
    ASSERT_EQ(init->Initialize(pidl, &data, nullptr), S_OK);
    CoTaskMemFree(pidl);
    IContextMenu* menu = nullptr;
    init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
    CMINVOKECOMMANDINFO info = {sizeof info, CMIC_MASK_FLAG_NO_UI, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr};
    // The first name and then the two Japanese names of the series, created for real.
    const std::wstring names[] = {target + L"\\report.txt", target + L"\\ハードリンク ～ report.txt",
                                  target + L"\\ハードリンク (2) ～ report.txt"};
    for (const std::wstring& name : names) {
        EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
        EXPECT_TRUE(PumpUntil([&] { return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES; })) << Narrow(name);
    }
    IShellIconOverlayIdentifier* overlay = nullptr;
    init->QueryInterface(IID_IShellIconOverlayIdentifier, reinterpret_cast<void**>(&overlay));
    std::wstring link = target + L"\\report.txt";
    EXPECT_EQ(overlay->IsMemberOf(file.c_str(), 0), S_OK);
    EXPECT_EQ(overlay->IsMemberOf(link.c_str(), 0), S_OK);
    overlay->Release();
    menu->Release();
    init->Release();
    EXPECT_TRUE(PumpUntil([&] { return dll.canUnloadNow() == S_OK; })) << "the worker still holds the library";
    BY_HANDLE_FILE_INFORMATION information = {};
    h = CreateFileW(link.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "the link was not created";
    GetFileInformationByHandle(h, &information);
    CloseHandle(h);
    EXPECT_EQ(information.nNumberOfLinks, 4u);
    for (const std::wstring& name : names) DeleteFileW(name.c_str());
    DeleteFileW(file.c_str());
    RemoveDirectoryW(target.c_str());
    RemoveDirectoryW(folder.c_str());
}

} // namespace
} // namespace kestrune::testing
