// The texts the user sees in the language of the user's interface: Japanese on a Japanese one,
// English on any other. ctest runs these twice, under a Japanese and an English Wine locale.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <map>

#include "shell/operationhook/operationhook_object.h"
#include "shell/propntfs/file_dialogs.h"
#include "shell/propntfs/propntfs_object.h"
#include "server/com_object.h"
#include "shell/reparsepoint/reparsepoint_object.h"
#include "tests/com/hdrop_data_object.h"
#include "tests/com/message_box_watcher.h"
#include "tests/fake/leak_checked_test.h"
#include "tests/shell/page_driver.h"

namespace kestrune::testing {
namespace {

struct Expected {
    std::map<int, std::wstring> page; // control: text; 0 is the tab
    std::wstring menuItem, helpText, copyRefused, allFiles;
};
const Expected kJapanese = {
    {{0, L"Kestrune"}, {201, L"リンク数 : 1"}, {202, L"ﾘﾝｸの列挙(&N)"}, {207, L"再読込み(&R)"}, {211, L"ストリーム一覧 :"}},
    L"リパースポイントの作成(&A)", L"ここに他のフォルダやドライブをマウントします。",
    L"リパースポイントをコピーする事は出来ません。\nこのフォルダに対するコピー操作はキャンセルされます。", L"すべてのファイル(*.*)"};
const Expected kEnglish = {
    {{0, L"Kestrune"}, {201, L"Link count: 1"}, {202, L"List Li&nks"}, {207, L"&Reload"}, {211, L"Streams:"}},
    L"Cre&ate Junction or Mount Point...", L"Mounts another folder (as a junction) or a drive (as a volume mount point) on this folder.",
    L"A reparse point cannot be copied.\nThe copy operation on this folder is canceled.", L"All files(*.*)"};

template <typename Object, typename I> I* Selected(const std::wstring& path) {
    IShellExtInit* init = nullptr;
    CreateComObject<Object>(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
    HDropDataObject selection({path});
    I* wanted = nullptr;
    if (init->Initialize(nullptr, &selection, nullptr) == S_OK) init->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&wanted));
    init->Release();
    return wanted;
}

using UserInterfaceLanguage = LeakCheckedTest;
TEST_F(UserInterfaceLanguage, PageMenuAndMessagesSpeakTheUsersLanguageAndLeaveTheThreadsAlone) {
    LANGID user = GetUserDefaultUILanguage(), thread = GetThreadUILanguage();
    const Expected& expected = PRIMARYLANGID(user) == LANG_JAPANESE ? kJapanese : kEnglish;
    volumes.AddVolume(L'D');
    for (const wchar_t* folder : {L"D:\\empty", L"D:\\data", L"D:\\junction"}) volumes.MakeFolder(folder);
    volumes.MakeJunction(L"D:\\junction", L"D:\\data");
    volumes.MakeFile(L"D:\\item.txt", "item");

    auto* sheetExtension = Selected<PropNtfsObject, IShellPropSheetExt>(L"D:\\item.txt");
    ASSERT_NE(sheetExtension, nullptr);
    {
        Sheet sheet(sheetExtension);
        wchar_t tab[64] = {};
        TCITEMW item{TCIF_TEXT, 0, 0, tab, 64, 0, 0};
        TabCtrl_GetItem(PropSheet_GetTabControl(sheet.window), 0, &item);
        for (auto& [control, text] : expected.page) EXPECT_EQ(control ? sheet.Text(control) : tab, text) << "control " << control;
    }
    sheetExtension->Release();

    auto* menu = Selected<ReparsePointObject, IContextMenu>(L"D:\\empty");
    ASSERT_NE(menu, nullptr);
    HMENU shown = CreatePopupMenu();
    menu->QueryContextMenu(shown, 0, 1, 0x7FFF, CMF_NORMAL);
    wchar_t itemText[256] = {}, helpText[256] = {};
    GetMenuStringW(shown, 0, itemText, 256, MF_BYPOSITION);
    menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(helpText), 256);
    EXPECT_EQ(std::wstring(itemText) + L" / " + helpText, expected.menuItem + L" / " + expected.helpText);
    DestroyMenu(shown);
    menu->Release();

    ICopyHookW* hook = nullptr;
    CreateComObject<OperationHookObject>(nullptr, IID_ICopyHookW, reinterpret_cast<void**>(&hook));
    MessageBoxWatcher watcher(IDOK);
    EXPECT_EQ(hook->CopyCallback(nullptr, FO_COPY, 0, L"D:\\junction", 0, L"D:\\copy", 0), UINT{IDNO});
    hook->Release();
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].text, expected.copyRefused);
    EXPECT_EQ(watcher.Seen()[0].title, L"Kestrune - D:\\junction");
    wchar_t filter[kFilterChars];
    BuildFileFilter(filter, nullptr);
    EXPECT_EQ(std::wstring(filter) + L"|" + (filter + wcslen(filter) + 1), expected.allFiles + L"|*.*");
    EXPECT_EQ(GetThreadUILanguage(), thread) << "the thread's UI language is the host's";
}

} // namespace
} // namespace kestrune::testing
