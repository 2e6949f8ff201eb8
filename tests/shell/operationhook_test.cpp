// The OperationHook copy hook through its COM interface, on the test volumes.
#include <windows.h>
#include <shellapi.h>

#include "shell/operationhook/operationhook_object.h"
#include "tests/shell/reparse_fixture.h"

namespace kestrune::testing {
namespace {

using OperationHook = LeakCheckedTest;

TEST_F(OperationHook, GuardsFoldersWithAReparsePointAgainstCopyAndAsksBeforeDelete) {
    volumes.AddVolume(L'K');
    volumes.AddVolume(L'C');
    for (const wchar_t* folder : {L"K:\\data", L"K:\\plain", L"K:\\junction"}) volumes.MakeFolder(folder);
    volumes.MakeJunction(L"K:\\junction", L"K:\\data");
    volumes.AddAttributes(L"C:\\", FILE_ATTRIBUTE_REPARSE_POINT);
    // Tags other than a mount's: cloud and deduplicated folders are ordinary; a folder link and a
    // reparse point without a readable tag (Wine's symbolic links) are guarded like a mount.
    for (const wchar_t* folder : {L"K:\\cloud", L"K:\\dedup", L"K:\\tagless"}) volumes.MakeFolder(folder);
    volumes.SetRawReparse(L"K:\\cloud", ReparseRecord(kCloudSubTag));
    volumes.SetRawReparse(L"K:\\dedup", ReparseRecord(kDedupTag));
    volumes.AddAttributes(L"K:\\tagless", FILE_ATTRIBUTE_REPARSE_POINT);
    volumes.MakeSymbolicLink(L"K:\\link", L"K:\\data", true);
    // A folder whose path is longer than the title's 520 characters can hold.
    std::wstring deep = L"K:";
    for (int i = 0; i < 6; ++i) volumes.MakeFolder(deep += L"\\" + std::wstring(100, wchar_t(L'a' + i)));
    volumes.MakeJunction(deep, L"K:\\data");
    const std::wstring deepTitle = (L"Kestrune - " + deep).substr(0, 519);
    const Said ask = {L"このフォルダはリパースポイントです。\n削除するとマウントされているフォルダの中身も削除されてしまいますが、続行しますか？", IDI_EXCLAMATION};
    const Said refuse = {L"リパースポイントをコピーする事は出来ません。\nこのフォルダに対するコピー操作はキャンセルされます。", IDI_HAND};
    const struct {
        UINT operation;
        std::wstring source;
        int answer;
        UINT result;
        std::vector<Said> said;
        std::wstring title = L"Kestrune - K:\\junction";
        UINT flags = 0;
    } cases[] = {
        {FO_DELETE, L"K:\\junction", IDYES, IDYES, {ask}},
        {FO_DELETE, L"K:\\junction", IDNO, IDNO, {ask}},
        {FO_COPY, L"K:\\junction", IDOK, IDNO, {refuse}},
        {FO_COPY, deep, IDOK, IDNO, {refuse}, deepTitle},
        {FO_MOVE, L"K:\\junction", IDOK, IDYES, {}},
        {FO_RENAME, L"K:\\junction", IDOK, IDYES, {}},
        {FO_DELETE, L"K:\\plain", IDOK, IDYES, {}},
        {FO_COPY, L"K:\\plain", IDOK, IDYES, {}},
        {FO_COPY, L"K:\\missing", IDOK, IDYES, {}},
        {FO_DELETE, L"C:\\", IDOK, IDYES, {}},
        {FO_COPY, L"K:\\cloud", IDOK, IDYES, {}},
        {FO_DELETE, L"K:\\dedup", IDOK, IDYES, {}},
        {FO_COPY, L"K:\\link", IDOK, IDNO, {refuse}, L"Kestrune - K:\\link"},
        {FO_COPY, L"K:\\tagless", IDOK, IDNO, {refuse}, L"Kestrune - K:\\tagless"},
        {FO_DELETE, L"K:\\junction", IDNO, IDYES, {}, L"", FOF_SILENT},
        {FO_DELETE, L"K:\\junction", IDNO, IDYES, {}, L"", FOF_NOCONFIRMATION | FOF_ALLOWUNDO},
        {FO_COPY, L"K:\\junction", IDOK, IDNO, {}, L"", FOF_NO_UI}, {FO_COPY, L"K:\\link", IDOK, IDNO, {}, L"", FOF_SILENT},
    };
    for (const auto& c : cases) {
        ICopyHookW* hook = nullptr;
        ASSERT_EQ(CreateComObject<OperationHookObject>(nullptr, IID_ICopyHookW, reinterpret_cast<void**>(&hook)), S_OK);
        MessageBoxWatcher boxes(c.answer);
        SCOPED_TRACE(std::to_string(c.operation) + " " + Narrow(c.source));
        // The caller's attributes are not trusted: the disk's decide.
        DWORD claimed = c.source == L"K:\\plain" ? FILE_ATTRIBUTE_REPARSE_POINT : FILE_ATTRIBUTE_DIRECTORY;
        EXPECT_EQ(hook->CopyCallback(nullptr, c.operation, c.flags, c.source.c_str(), claimed, L"K:\\to", 0), c.result);
        ExpectSaid(boxes.Seen(), c.said, c.title);
        hook->Release();
    }
}

} // namespace
} // namespace kestrune::testing
