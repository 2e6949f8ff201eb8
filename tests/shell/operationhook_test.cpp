// The OperationHook copy hook through its COM interface, on the test volumes.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "server/com_object.h"
#include "shell/operationhook/operationhook_object.h"
#include "tests/com/message_box_watcher.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

using OperationHook = LeakCheckedTest;

TEST_F(OperationHook, GuardsFoldersWithAReparsePointAgainstCopyAndAsksBeforeDelete) {
    volumes.AddVolume(L'K');
    volumes.AddVolume(L'C');
    volumes.MakeFolder(L"K:\\data");
    volumes.MakeFolder(L"K:\\plain");
    volumes.MakeFolder(L"K:\\junction");
    volumes.MakeJunction(L"K:\\junction", L"K:\\data");
    volumes.AddAttributes(L"C:\\", FILE_ATTRIBUTE_REPARSE_POINT);
    // A folder whose path is longer than the title's 520 characters can hold.
    std::wstring deep = L"K:";
    for (int i = 0; i < 6; ++i) volumes.MakeFolder(deep += L"\\" + std::wstring(100, wchar_t(L'a' + i)));
    volumes.MakeJunction(deep, L"K:\\data");
    const std::wstring deepTitle = (L"Kestrune - " + deep).substr(0, 519);
    const wchar_t* ask = L"このフォルダはリパースポイントです。\n削除するとマウントされているフォルダの中身も削除されてしまいますが、続行しますか？";
    const wchar_t* refuse = L"リパースポイントをコピーする事は出来ません。\nこのフォルダに対するコピー操作はキャンセルされます。";
    const struct {
        UINT operation;
        std::wstring source;
        int answer;
        UINT result;
        const wchar_t* said; // null: nothing shown
        LPCWSTR icon;
        std::wstring title = L"Kestrune - K:\\junction";
    } cases[] = {
        {FO_DELETE, L"K:\\junction", IDYES, IDYES, ask, IDI_EXCLAMATION},
        {FO_DELETE, L"K:\\junction", IDNO, IDNO, ask, IDI_EXCLAMATION},
        {FO_COPY, L"K:\\junction", IDOK, IDNO, refuse, IDI_HAND},
        {FO_COPY, deep, IDOK, IDNO, refuse, IDI_HAND, deepTitle},
        {FO_MOVE, L"K:\\junction", IDOK, IDYES, nullptr, nullptr},
        {FO_RENAME, L"K:\\junction", IDOK, IDYES, nullptr, nullptr},
        {FO_DELETE, L"K:\\plain", IDOK, IDYES, nullptr, nullptr},
        {FO_COPY, L"K:\\plain", IDOK, IDYES, nullptr, nullptr},
        {FO_COPY, L"K:\\missing", IDOK, IDYES, nullptr, nullptr},
        {FO_DELETE, L"C:\\", IDOK, IDYES, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        ICopyHookW* hook = nullptr;
        ASSERT_EQ(CreateComObject<OperationHookObject>(nullptr, IID_ICopyHookW, reinterpret_cast<void**>(&hook)), S_OK);
        MessageBoxWatcher boxes(c.answer);
        // The caller's attributes are not trusted: the disk's decide.
        DWORD claimed = c.source == L"K:\\plain" ? FILE_ATTRIBUTE_REPARSE_POINT : FILE_ATTRIBUTE_DIRECTORY;
        EXPECT_EQ(hook->CopyCallback(nullptr, c.operation, 0, c.source.c_str(), claimed, L"K:\\to", 0), c.result)
            << c.operation << " " << Narrow(c.source);
        ASSERT_EQ(boxes.Seen().size(), c.said ? 1u : 0u) << c.operation << " " << Narrow(c.source);
        if (c.said) {
            EXPECT_EQ(boxes.Seen()[0].text, c.said);
            EXPECT_EQ(boxes.Seen()[0].title, c.title);
            EXPECT_EQ(boxes.Seen()[0].icon, LoadIconW(nullptr, c.icon));
        }
        hook->Release();
    }
}

} // namespace
} // namespace kestrune::testing
