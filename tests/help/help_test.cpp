// The help loader through a stand-in help control registered where Windows registers hhctrl.ocx,
// and Wine's own control with the built manual. The loader is set once per process: each case
// that needs a fresh one runs in a child process of its own (a death-test child).
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include "shell/help/help.h"
#include "tests/help/help_call.h"
#include "tests/server/scratch_registry.h"

namespace kestrune::testing {
namespace {

std::wstring Beside(const std::wstring& name) {
    wchar_t path[MAX_PATH];
    std::wstring exe(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return exe.substr(0, exe.rfind(L'\\') + 1) + name;
}
const std::wstring kStandIn = Beside(L"help_stand_in.dll");

std::wstring SystemControl() {
    wchar_t system[MAX_PATH];
    return std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\hhctrl.ocx";
}

void RegisterControl(const std::wstring& path, DWORD type = REG_SZ, DWORD terminator = 1) {
    RegSetKeyValueW(HKEY_CLASSES_ROOT, L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", nullptr,
                    type, path.c_str(), DWORD(path.size() + terminator) * sizeof(wchar_t));
}

std::vector<HelpCall> CallsOf(const std::wstring& control) {
    HMODULE module = GetModuleHandleW(control.c_str());
    const HelpCall* calls = nullptr;
    LONG count = module ? reinterpret_cast<RecordedHelpCallsProc>(GetProcAddress(module, "RecordedHelpCalls"))(&calls) : 0;
    return {calls, calls + count};
}

TEST(HelpThroughStandIn, PopUpsAtTheCursorAndTheManualBesideTheLibraryWhateverTheCurrentFolder) {
    { // the first request loads the control; the key is never read again
        ScratchRegistry registry(L"Help");
        RegisterControl(kStandIn);
        CallHtmlHelp(nullptr, nullptr, HH_INITIALIZE, 0);
    }
    HWND dialog = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 20, 20, nullptr, nullptr, nullptr, nullptr);
    POINT cursor{}; // far from the window: the pop-up goes to the mouse, not to the control
    const RECT defaultMargins{-1, -1, -1, -1};
    ASSERT_TRUE(SetCursorPos(400, 300) && GetCursorPos(&cursor));
    const struct { const HelpTable& table; int control; UINT text; } cases[] = {
        {kPropertyPageHelp, 201, 105}, {kPropertyPageHelp, 202, 106}, {kPropertyPageHelp, 203, 107}, {kPropertyPageHelp, 204, 108},
        {kPropertyPageHelp, 205, 109}, {kPropertyPageHelp, 206, 110}, {kPropertyPageHelp, 207, 112}, {kPropertyPageHelp, 208, 113},
        {kPropertyPageHelp, 209, 114}, {kPropertyPageHelp, 210, 111}, {kPropertyPageHelp, 211, 109}, {kPropertyPageHelp, 212, 110},
        {kPropertyPageHelp, 200, 0}, {kPropertyPageHelp, 213, 0}, {kPropertyPageHelp, -1, 0}, {kReparseInfoHelp, IDOK, 115},
        {kReparseInfoHelp, 201, 103}, {kReparseInfoHelp, 202, 104}, {kReparseInfoHelp, 203, 102}, {kReparseInfoHelp, -1, 0}};
    for (auto& c : cases) {
        size_t before = CallsOf(kStandIn).size();
        ShowContextHelp(dialog, c.table, c.control);
        std::vector<HelpCall> calls = CallsOf(kStandIn);
        ASSERT_EQ(calls.size(), before + (c.text != 0)) << c.control;
        if (!c.text) continue;
        const HH_POPUP& p = calls.back().popup;
        EXPECT_TRUE(calls.back().command == HH_DISPLAY_TEXT_POPUP && calls.back().caller == dialog && !*calls.back().file);
        EXPECT_TRUE(p.cbStruct == sizeof p && p.hinst == GetModuleHandleW(nullptr) && p.idString == c.text) << c.control;
        EXPECT_TRUE(p.pt.x == cursor.x && p.pt.y == cursor.y && !p.pszText && !p.pszFont) << c.control;
        EXPECT_TRUE(p.clrForeground == ~COLORREF{} && p.clrBackground == ~COLORREF{} &&
                    EqualRect(&p.rcMargins, &defaultMargins));
    }
    HWND result = CallHtmlHelp(dialog, L"a.chm", HH_DISPLAY_TOPIC, 7);
    HelpCall passed = CallsOf(kStandIn).back();
    EXPECT_TRUE(result == passed.result && passed.caller == dialog && passed.command == HH_DISPLAY_TOPIC && passed.data == 7 && !wcscmp(passed.file, L"a.chm"));
    DestroyWindow(dialog);
    for (const wchar_t* folder : {L"C:\\", L"C:\\windows"}) {
        SetCurrentDirectoryW(folder);
        ShowHelpFile();
        HelpCall call = CallsOf(kStandIn).back();
        EXPECT_TRUE(call.command == HH_DISPLAY_TOC && !call.caller && !call.data && Beside(L"Kestrune.chm") == call.file);
    }
}

// A death-test child reports nothing itself: its failures go to stderr, which the parent shows.
[[noreturn]] void ExitWithResult() {
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    for (int i = 0; i < result->total_part_count(); ++i) fprintf(stderr, "%s\n", result->GetTestPartResult(i).message());
    fflush(stderr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
}

// A fresh loader with `registered` in HKCR and stand-ins planted in the host's and the current
// folder: the request must reach `serving` (a control's path) and nothing planted; with no
// control to serve, it returns nothing and the loader never tries again.
void RequestFromFreshLoader(const std::wstring& registered, DWORD type, DWORD terminator, const std::wstring& serving,
                            const std::wstring (&plants)[2]) {
    ScratchRegistry registry(L"FreshHelp");
    RegisterControl(registered, type, terminator);
    SetCurrentDirectoryW(plants[1].substr(0, plants[1].rfind(L'\\')).c_str());
    HWND result = CallHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
    for (auto& plant : plants) EXPECT_EQ(GetModuleHandleW(plant.c_str()), nullptr);
    EXPECT_TRUE(serving.empty() ? !result && !GetModuleHandleW(SystemControl().c_str()) : GetModuleHandleW(serving.c_str()) != nullptr);
    if (serving == kStandIn) EXPECT_EQ(CallsOf(kStandIn).size(), 1u);
    if (!serving.empty()) return;
    RegisterControl(kStandIn);
    EXPECT_EQ(CallHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0), nullptr);
    EXPECT_EQ(GetModuleHandleW(kStandIn.c_str()), nullptr);
}

TEST(FreshHelpLoader, TakesTheRegisteredControlOrTheSystemsAndNothingPlanted) {
    wchar_t temp[MAX_PATH];
    std::wstring folder = Beside(L""), plants[2] = {Beside(L"hhctrl.ocx"), std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"hhctrl.ocx"};
    for (auto& plant : plants) ASSERT_TRUE(CopyFileW(kStandIn.c_str(), plant.c_str(), FALSE));
    SetEnvironmentVariableW(L"KESTRUNE_HELP_FOLDER", folder.c_str());
    const struct { const char* name; std::wstring registered; DWORD type, terminator; std::wstring serving; } cases[] = {
        {"expandable", L"%KESTRUNE_HELP_FOLDER%help_stand_in.dll", REG_EXPAND_SZ, 1, kStandIn},
        {"no terminator", kStandIn, REG_SZ, 0, kStandIn},
        {"relative name", L"hhctrl.ocx", REG_SZ, 1, SystemControl()},
        {"no ordinal 15", Beside(L"help_stand_in_unnumbered.dll"), REG_SZ, 1, L""},
        {"no control at all", Beside(L"absent.ocx"), REG_SZ, 1, L""}};
    // Wine's loader override of this executable, read at a child's start, takes Wine's control away.
    const wchar_t overrides[] = L"Software\\Wine\\AppDefaults\\help_tests.exe\\DllOverrides";
    for (auto& c : cases) {
        if (c.registered == Beside(L"absent.ocx")) RegSetKeyValueW(HKEY_CURRENT_USER, overrides, L"hhctrl.ocx", REG_SZ, L"", 2);
        EXPECT_EXIT((RequestFromFreshLoader(c.registered, c.type, c.terminator, c.serving, plants), ExitWithResult()),
                    ::testing::ExitedWithCode(0), "") << c.name;
        RegDeleteKeyValueW(HKEY_CURRENT_USER, overrides, L"hhctrl.ocx");
    }
    for (auto& plant : plants) DeleteFileW(plant.c_str());
}

BOOL CALLBACK FindTree(HWND child, LPARAM found) {
    wchar_t name[32];
    if (GetClassNameW(child, name, 32) && !wcscmp(name, WC_TREEVIEWW)) *reinterpret_cast<HWND*>(found) = child;
    return TRUE;
}

void OpenManualInRealControl() {
    HWND window = CallHtmlHelp(nullptr, Beside(L"Kestrune.chm").c_str(), HH_DISPLAY_TOC, 0), tree = nullptr;
    ASSERT_TRUE(IsWindow(window));
    EnumChildWindows(window, FindTree, reinterpret_cast<LPARAM>(&tree));
    wchar_t title[64] = {}, first[64] = {};
    TVITEMW item{TVIF_TEXT, TreeView_GetRoot(tree), 0, 0, first, 64, 0, 0, 0, 0};
    GetWindowTextW(window, title, 64);
    EXPECT_TRUE(TreeView_GetItem(tree, &item) && TreeView_GetCount(tree) >= 7u) << "the contents, decoded as CP932";
    EXPECT_EQ(std::wstring(first) + L" / " + title, L"Kestrune の概要 / Kestrune ヘルプ");
    CallHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
}

TEST(FreshHelpLoader, WinesOwnControlOpensTheManualAtItsContents) {
    EXPECT_EXIT((OpenManualInRealControl(), ExitWithResult()), ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace kestrune::testing
