// The page of the built Kestrune.dll on the ntfs-3g drive N: (K: stands in where FUSE is missing):
// end to end in our own sheet, then in Wine's own Properties dialog.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include "kestrune_h.h"
#include "tests/com/dll_module.h"
#include "tests/com/hdrop_data_object.h"
#include "tests/shell/page_driver.h"

namespace kestrune::testing {
namespace {

const wchar_t kEnumerate[] = L"ﾘﾝｸの列挙(&N)";
std::atomic<bool> tabSeen, pageSeen;

// A sheet of this process with a "Kestrune" tab whose page is dialog 205: noted, then cancelled.
BOOL CALLBACK FindSheet(HWND window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    HWND tabs = process == GetCurrentProcessId() ? PropSheet_GetTabControl(window) : nullptr;
    for (int i = 0; tabs && i < TabCtrl_GetItemCount(tabs); ++i) {
        wchar_t text[64] = {};
        TCITEMW item = {TCIF_TEXT, 0, 0, text, 64, 0, 0};
        if (!TabCtrl_GetItem(tabs, i, &item) || wcscmp(text, L"Kestrune") != 0) continue;
        tabSeen = PropSheet_SetCurSel(window, nullptr, i);
        HWND page = PropSheet_GetCurrentPageHwnd(window);
        pageSeen = GetDlgItemTextW(page, 202, text, 64) && wcscmp(text, kEnumerate) == 0 && GetDlgItem(page, 401);
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    }
    return TRUE;
}

TEST(PropertyPageOnRealDrives, OurSheetEndToEndThenWinesPropertiesDialog) {
    bool ntfs3g = GetFileAttributesW(L"N:\\") != INVALID_FILE_ATTRIBUTES;
    std::wstring root = ntfs3g ? L"N:\\" : L"K:\\", file = root + L"page.txt", link = root + L"page-link.txt";
    wchar_t temp[MAX_PATH];
    std::wstring source = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"kestrune.txt";
    for (auto& path : {file, source}) std::ofstream(path.c_str(), std::ios::binary) << "from a file";
    CoInitialize(nullptr);
    DllModule dll;
    IClassFactory* factory = nullptr;
    ASSERT_EQ(dll.getClassObject(CLSID_PropNTFS, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IShellExtInit* init = nullptr;
    factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
    factory->Release();
    HDropDataObject data({file});
    ASSERT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
    IShellPropSheetExt* extension = nullptr;
    init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&extension));
    init->Release();
    if (ntfs3g) {
        ASSERT_TRUE(CreateHardLinkW(link.c_str(), file.c_str(), nullptr));
        Sheet sheet(extension);
        EXPECT_EQ(sheet.Text(201), L"リンク数 : 2");
        sheet.Command(202);
        EXPECT_TRUE(PumpUntil([&] { return sheet.Text(202) == kEnumerate; }));
        EXPECT_EQ(sheet.Items<std::set<std::wstring>>(204), (std::set<std::wstring>{file, link}));
        DialogScript script({Type(source), Type(L"note")});
        sheet.Command(32768); // a real named stream from the file
        std::ifstream stream((file + L":note").c_str(), std::ios::binary); // exactly the typed name
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stream), {}), "from a file");
    }
    extension->Release();
    EXPECT_EQ(dll.canUnloadNow(), S_OK);

    // Registered and entered as the handler of every file, the class gets a tab in Wine's own
    // Properties dialog, opened by the "properties" verb of the file's context menu.
    const wchar_t handler[] = L"*\\shellex\\PropertySheetHandlers\\Kestrune";
    const wchar_t clsid[] = L"{C7B88FC2-749C-446A-9917-7ECB171F10E6}";
    ASSERT_EQ(dll.registerServer(), S_OK);
    RegSetKeyValueW(HKEY_CLASSES_ROOT, handler, nullptr, REG_SZ, clsid, sizeof clsid);
    std::thread watcher([] { for (int i = 0; i < 500 && !tabSeen; ++i, Sleep(20)) EnumWindows(FindSheet, 0); });
    IShellItem* item = nullptr;
    IContextMenu* menu = nullptr;
    SHCreateItemFromParsingName(file.c_str(), nullptr, IID_IShellItem, reinterpret_cast<void**>(&item));
    item->BindToHandler(nullptr, BHID_SFUIObject, IID_IContextMenu, reinterpret_cast<void**>(&menu));
    HMENU popup = CreatePopupMenu();
    menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
    CMINVOKECOMMANDINFO info = {sizeof info, 0, nullptr, "properties", nullptr, nullptr, SW_SHOW, 0, nullptr};
    EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
    watcher.join();
    EXPECT_TRUE(tabSeen) << "no \"Kestrune\" tab in the Properties dialog";
    EXPECT_TRUE(pageSeen) << "the tab does not hold dialog 205";
    DestroyMenu(popup);
    menu->Release();
    item->Release();
    RegDeleteKeyW(HKEY_CLASSES_ROOT, handler);
    dll.unregisterServer();
    for (auto& path : {file, link, source}) DeleteFileW(path.c_str());
    CoUninitialize();
    if (!ntfs3g) GTEST_SKIP() << "the end-to-end pass needs the ntfs-3g drive N:";
}

} // namespace
} // namespace kestrune::testing
