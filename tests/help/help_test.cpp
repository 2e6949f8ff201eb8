// The help loader through a stand-in help control registered where Windows registers hhctrl.ocx,
// and Wine's own control with the built manual. The loader is set once per process: each case
// that needs a fresh one runs in a child process of its own (a death-test child).
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include "shell/help/help.h"
#include "shell/ui_language.h"
#include "tests/help/help_call.h"
#include "tests/server/scratch_registry.h"
#include "tests/shell/reparse_fixture.h"
#include "tests/shell/shell_ui_script.h"

namespace kestrune::testing {
namespace {

std::wstring Beside(const std::wstring& name) {
    wchar_t path[MAX_PATH];
    std::wstring exe(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return exe.substr(0, exe.rfind(L'\\') + 1) + name;
}
const std::wstring kStandIn = Beside(L"help_stand_in.dll");

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
    POINT cursor{}; // away from any control: the pop-up goes to the mouse
    ASSERT_TRUE(SetCursorPos(400, 300) && GetCursorPos(&cursor));
    const RECT defaultMargins{-1, -1, -1, -1};
    const struct { const HelpTable& table; int control; UINT text; } cases[] = {
        {kPropertyPageHelp, 209, 114}, {kPropertyPageHelp, -1, 0}, {kPropertyPageHelp, 200, 0}, {kPropertyPageHelp, 213, 0},
        {kReparseInfoHelp, 203, 102}, {kReparseInfoHelp, -1, 0}};
    for (auto& c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        size_t before = CallsOf(kStandIn).size();
        ShowContextHelp(GetDesktopWindow(), c.table, c.control);
        std::vector<HelpCall> calls = CallsOf(kStandIn);
        ASSERT_EQ(calls.size(), before + (c.text != 0));
        const HH_POPUP& p = calls.back().popup;
        EXPECT_TRUE(!c.text || (calls.back().command == HH_DISPLAY_TEXT_POPUP && calls.back().caller == GetDesktopWindow() && p.cbStruct == sizeof p && !p.idString &&
                                !p.hinst && std::wstring(UiText(c.text)) == calls.back().text && p.pt.x == cursor.x && p.pt.y == cursor.y &&
                                p.clrForeground == ~COLORREF{} && p.clrBackground == ~COLORREF{} &&
                                EqualRect(&p.rcMargins, &defaultMargins) && !p.pszFont)) << c.control;
    }
    for (const wchar_t* folder : {L"C:\\", L"C:\\windows"}) {
        SetCurrentDirectoryW(folder);
        ShowHelpFile();
        HelpCall call = CallsOf(kStandIn).back();
        EXPECT_TRUE(call.command == HH_DISPLAY_TOC && !call.caller && !call.data && Beside(std::wstring(UiText(kManualFileText))) == call.file);
    }
}

// A death-test child reports nothing itself: its failures go to stderr, which the parent shows.
[[noreturn]] void ExitWithResult() {
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    for (int i = 0; i < result->total_part_count(); ++i) fprintf(stderr, "%s\n", result->GetTestPartResult(i).message());
    fflush(stderr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST(FreshHelpLoader, TakesTheRegisteredControlOrTheSystemsAndNothingPlanted) {
    wchar_t system[MAX_PATH], temp[MAX_PATH];
    std::wstring hhctrl = std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\hhctrl.ocx";
    std::wstring plants[2] = {Beside(L"hhctrl.ocx"), std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"hhctrl.ocx"};
    for (auto& plant : plants) ASSERT_TRUE(CopyFileW(kStandIn.c_str(), plant.c_str(), FALSE));
    SetEnvironmentVariableW(L"KESTRUNE_HELP_FOLDER", Beside(L"").c_str());
    const struct { std::wstring registered; DWORD type, terminator; std::wstring serving; } cases[] = {
        {L"%KESTRUNE_HELP_FOLDER%help_stand_in.dll", REG_EXPAND_SZ, 1, kStandIn}, {kStandIn, REG_SZ, 0, kStandIn},
        {L"hhctrl.ocx", REG_SZ, 1, hhctrl}, {Beside(L"help_stand_in_unnumbered.dll"), REG_SZ, 1, L""},
        {Beside(L"absent.ocx"), REG_SZ, 1, L""}};
    // In a fresh loader, with the current folder at the second plant: the request reaches `serving`
    // and nothing planted; with nothing to serve, it returns nothing and never tries again.
    auto request = [&](const auto& c) {
        ScratchRegistry registry(L"FreshHelp");
        RegisterControl(c.registered, c.type, c.terminator);
        SetCurrentDirectoryW(plants[1].substr(0, plants[1].rfind(L'\\')).c_str());
        HWND result = CallHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
        EXPECT_TRUE(!GetModuleHandleW(plants[0].c_str()) && !GetModuleHandleW(plants[1].c_str()));
        EXPECT_EQ(CallsOf(kStandIn).size(), c.serving == kStandIn ? 1u : 0u);
        EXPECT_TRUE(c.serving.empty() || GetModuleHandleW(c.serving.c_str()));
        if (!c.serving.empty()) return;
        RegisterControl(kStandIn);
        EXPECT_TRUE(!result && !CallHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0) && !GetModuleHandleW(kStandIn.c_str()));
        EXPECT_EQ(GetModuleHandleW(L"hhctrl.ocx"), nullptr);
    };
    // Wine's loader override for this executable, read when a child starts, takes Wine's control away.
    const wchar_t overrides[] = L"Software\\Wine\\AppDefaults\\help_tests.exe\\DllOverrides";
    for (auto& c : cases) {
        if (&c == &cases[4]) RegSetKeyValueW(HKEY_CURRENT_USER, overrides, L"hhctrl.ocx", REG_SZ, L"", 2);
        EXPECT_EXIT((request(c), ExitWithResult()), ::testing::ExitedWithCode(0), "") << "case " << &c - cases;
        RegDeleteKeyValueW(HKEY_CURRENT_USER, overrides, L"hhctrl.ocx");
    }
    for (auto& plant : plants) DeleteFileW(plant.c_str());
}

// The manual of the process's UI language, as the page's help button opens it (the test's own
// folder stands for the library's).
void OpenManualInWinesControl() {
    ShowHelpFile();
    HWND window = FindWindowW(L"HH Parent", nullptr);
    HWND tree = FindWindowExW(FindWindowExW(window, nullptr, L"HH Child", nullptr), nullptr, WC_TREEVIEWW, nullptr);
    wchar_t title[64] = {}, first[64] = {};
    TVITEMW item{TVIF_TEXT, TreeView_GetRoot(tree), 0, 0, first, 64, 0, 0, 0, 0};
    EXPECT_TRUE(GetWindowTextW(window, title, 64) && TreeView_GetItem(tree, &item) && TreeView_GetCount(tree) >= 7u);
    bool japanese = UiLanguage() == MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
    EXPECT_EQ(std::wstring(title) + L" / " + first, japanese ? L"Kestrune ヘルプ / Kestrune の概要" : L"Kestrune Help / Overview of Kestrune");
    CallHtmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
}

TEST(FreshHelpLoader, WinesOwnControlOpensTheManualAtItsContents) {
    EXPECT_EXIT((OpenManualInWinesControl(), ExitWithResult()), ::testing::ExitedWithCode(0), "");
}

// The information dialog asks for its pop-ups by F1 (or the caption's help button) and by a right click.
using ReparseInfoHelp = ReparseFixture;
TEST_F(ReparseInfoHelp, TheDialogsControlsPopUpTheirTextsAndTheLabelNothing) {
    {
        ScratchRegistry registry(L"Help");
        RegisterControl(kStandIn);
        CallHtmlHelp(nullptr, nullptr, HH_INITIALIZE, 0); // the stand-in, unless a test before loaded it
    }
    ASSERT_NE(GetModuleHandleW(kStandIn.c_str()), nullptr);
    const std::pair<int, UINT> cases[] = {{IDOK, 115}, {201, 103}, {202, 104}, {203, 102}, {-1, 0}};
    std::vector<InfoDialogOwner::Step> steps;
    std::vector<std::pair<size_t, std::wstring>> asked; // the calls each step made; the text the dialog popped up
    for (auto [id, text] : cases)
        for (bool f1 : {true, false})
            steps.push_back([&, id = id, f1](HWND dialog) {
                HWND control = id == -1 ? FindWindowExW(dialog, nullptr, L"Static", nullptr) : GetDlgItem(dialog, id);
                size_t before = CallsOf(kStandIn).size();
                HELPINFO info = {sizeof info, HELPINFO_WINDOW, GetDlgCtrlID(control), control, 0, {}};
                LRESULT handled = f1 ? SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info))
                                     : SendMessageW(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(control), MAKELPARAM(-1, -1));
                EXPECT_EQ(handled, TRUE) << "the owner would open its own help too";
                std::vector<HelpCall> calls = CallsOf(kStandIn);
                const HelpCall& last = calls.back();
                bool popUp = calls.size() > before && last.caller == dialog && last.command == HH_DISPLAY_TEXT_POPUP;
                asked.emplace_back(calls.size() - before, popUp ? last.text : L"");
            });
    ShellUiScript ui;
    InfoDialogOwner owner(steps);
    IContextMenu* menu = Selected<IContextMenu>(junction);
    EXPECT_EQ(Invoke(menu, owner.Window()), S_OK);
    menu->Release();
    ASSERT_EQ(asked.size(), 10u);
    for (size_t i = 0; i < asked.size(); ++i)
        EXPECT_EQ(asked[i], std::make_pair(size_t{cases[i / 2].second != 0}, std::wstring(UiText(cases[i / 2].second))))
            << "control " << cases[i / 2].first << (i % 2 ? " right-clicked" : " F1");
    EXPECT_TRUE(ui.messages.empty());
}

} // namespace
} // namespace kestrune::testing
