// The page of the built Kestrune.dll on real drives: in Wine's own Properties dialog, and end to
// end on the ntfs-3g drive N: where this machine can mount one.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "kestrune_h.h"
#include "tests/com/dll_module.h"
#include "tests/com/hdrop_data_object.h"
#include "tests/shell/page_driver.h"

namespace kestrune::testing {
namespace {

const wchar_t kHandlerKey[] = L"*\\shellex\\PropertySheetHandlers\\Kestrune";
const wchar_t kEnumerate[] = L"ﾘﾝｸの列挙(&N)";

bool DriveReady(const wchar_t* root) { return GetFileAttributesW(root) != INVALID_FILE_ATTRIBUTES; }

void MakeRealFile(const std::wstring& path, const char* content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, content, static_cast<DWORD>(strlen(content)), &written, nullptr);
    CloseHandle(file);
}

// The class registered and entered as a property-sheet handler for every file, for one scope.
class RegisteredHandler {
public:
    explicit RegisteredHandler(DllModule& dll) : dll_(dll) {
        registered = dll_.registerServer() == S_OK &&
                     RegSetKeyValueW(HKEY_CLASSES_ROOT, kHandlerKey, nullptr, REG_SZ, L"{C7B88FC2-749C-446A-9917-7ECB171F10E6}",
                                     sizeof L"{C7B88FC2-749C-446A-9917-7ECB171F10E6}") == ERROR_SUCCESS;
    }
    ~RegisteredHandler() {
        RegDeleteKeyW(HKEY_CLASSES_ROOT, kHandlerKey);
        dll_.unregisterServer();
    }
    bool registered = false;

private:
    DllModule& dll_;
};

// Finds, from another thread, the sheet that shows our page: its tab title and the page's button.
struct SheetSpy {
    std::atomic<bool> tab{false}, page{false};
    static BOOL CALLBACK FindPage(HWND child, LPARAM self) {
        wchar_t text[64] = {};
        GetWindowTextW(child, text, 64);
        if (GetDlgCtrlID(child) == 202 && wcscmp(text, kEnumerate) == 0 && GetDlgItem(GetParent(child), 401))
            reinterpret_cast<SheetSpy*>(self)->page = true;
        return TRUE;
    }
    static BOOL CALLBACK FindSheet(HWND window, LPARAM self) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        HWND tabs = reinterpret_cast<HWND>(SendMessageW(window, PSM_GETTABCONTROL, 0, 0));
        if (process != GetCurrentProcessId() || !tabs) return TRUE;
        auto* spy = reinterpret_cast<SheetSpy*>(self);
        for (int i = 0; i < TabCtrl_GetItemCount(tabs); ++i) {
            wchar_t text[64] = {};
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = text;
            item.cchTextMax = 64;
            if (TabCtrl_GetItem(tabs, i, &item) && wcscmp(text, L"Kestrune") == 0) {
                spy->tab = true;
                PropSheet_SetCurSel(window, nullptr, i);
            }
        }
        EnumChildWindows(window, FindPage, self);
        if (spy->tab) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    void Watch() {
        for (int i = 0; i < 500 && !(tab && page); ++i) {
            EnumWindows(FindSheet, reinterpret_cast<LPARAM>(this));
            Sleep(20);
        }
    }
};

TEST(PropertyPageOnNtfs3g, LinksAndANewStreamEndToEnd) {
    if (!DriveReady(L"N:\\")) GTEST_SKIP() << "no ntfs-3g volume: FUSE, mkntfs or ntfs-3g is missing here";
    CoInitialize(nullptr);
    DllModule dll;
    ASSERT_NE(dll.module, nullptr);
    std::wstring file = L"N:\\page.txt", link = L"N:\\page-link.txt";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring source = std::wstring(temp) + L"kestrune-stream-source.txt";
    MakeRealFile(file, "item");
    MakeRealFile(source, "from a file");
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), file.c_str(), nullptr));
    IClassFactory* factory = nullptr;
    ASSERT_EQ(dll.getClassObject(CLSID_PropNTFS, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IShellExtInit* init = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    factory->Release();
    HDropDataObject data({file});
    ASSERT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
    IShellPropSheetExt* extension = nullptr;
    init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&extension));
    {
        Sheet sheet(extension);
        EXPECT_EQ(sheet.Text(201), L"リンク数 : 2");
        sheet.Command(202);
        EXPECT_TRUE(PumpUntil([&] { return sheet.Text(202) == kEnumerate; }));
        std::vector<std::wstring> links = sheet.Items(204);
        int linkIndex = static_cast<int>(std::find(links.begin(), links.end(), link) - links.begin());
        std::sort(links.begin(), links.end());
        EXPECT_EQ(links, (std::vector<std::wstring>{link, file}));
        DialogScript script({Type(source), Type(L"note")});
        sheet.Command(32768);
        EXPECT_EQ(script.seen.size(), 2u);
        sheet.Select(204, linkIndex);
        DialogScript deletion({Yes()});
        sheet.Command(203);
        EXPECT_EQ(sheet.Text(201), L"リンク数 : 1");
    }
    extension->Release();
    init->Release();
    EXPECT_EQ(dll.canUnloadNow(), S_OK);
    HANDLE stream = CreateFileW((file + L": note").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    char content[32] = {};
    DWORD read = 0;
    ReadFile(stream, content, sizeof content, &read, nullptr);
    CloseHandle(stream);
    EXPECT_STREQ(content, "from a file");
    EXPECT_EQ(GetFileAttributesW(link.c_str()), INVALID_FILE_ATTRIBUTES);
    for (auto& path : {file, link, source}) DeleteFileW(path.c_str());
    CoUninitialize();
}

// Runs last: after Wine's own Properties dialog the library still counts one lock (measured: the
// same page in our own sheets gives everything back), which would spoil a later unload check.
TEST(PropertyPageInWinesShell, PropertiesOfAFileShowTheKestruneTab) {
    CoInitialize(nullptr);
    DllModule dll;
    ASSERT_NE(dll.module, nullptr);
    const wchar_t* root = DriveReady(L"N:\\") ? L"N:\\" : L"K:\\";
    if (!DriveReady(root)) GTEST_SKIP() << "neither N: nor K: is mapped";
    std::wstring file = std::wstring(root) + L"kestrune-properties.txt";
    MakeRealFile(file, "data");
    {
        RegisteredHandler handler(dll);
        ASSERT_TRUE(handler.registered);
        SheetSpy spy;
        std::thread watcher([&] { spy.Watch(); });
        // The "properties" verb of the file's own context menu, as Explorer's menu gives it.
        PIDLIST_ABSOLUTE pidl = nullptr;
        ASSERT_EQ(SHParseDisplayName(file.c_str(), nullptr, &pidl, 0, nullptr), S_OK);
        IShellFolder* folder = nullptr;
        PCUITEMID_CHILD child = nullptr;
        ASSERT_EQ(SHBindToParent(pidl, IID_IShellFolder, reinterpret_cast<void**>(&folder), &child), S_OK);
        IContextMenu* menu = nullptr;
        ASSERT_EQ(folder->GetUIObjectOf(nullptr, 1, &child, IID_IContextMenu, nullptr, reinterpret_cast<void**>(&menu)),
                  S_OK);
        HMENU popup = CreatePopupMenu();
        menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
        CMINVOKECOMMANDINFO info = {};
        info.cbSize = sizeof info;
        info.lpVerb = "properties";
        info.nShow = SW_SHOW;
        EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
        DestroyMenu(popup);
        menu->Release();
        folder->Release();
        CoTaskMemFree(pidl);
        watcher.join();
        EXPECT_TRUE(spy.tab) << "no \"Kestrune\" tab in the Properties dialog";
        EXPECT_TRUE(spy.page) << "the tab does not hold dialog 205";
    }
    DeleteFileW(file.c_str());
    CoUninitialize();
}

} // namespace
} // namespace kestrune::testing
