#include "tools/try/run_limit.h"

#include <process.h>

#include "tools/try/commands.h"
#include "tools/try/console.h"

namespace kestrune::trying {
namespace {

volatile bool runEnding = false;
constexpr DWORD kPollMs = 100;
constexpr DWORD kUnseenMs = 1000;
// For the closed windows' loops to end before the process does; longer than the wait for a
// Properties sheet that may still be on its way (main.cpp).
constexpr DWORD kCloseGraceMs = 10000;

BOOL CALLBACK CancelOne(HWND window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window)) CancelWindow(window);
    return TRUE;
}

} // namespace

bool CancelWindow(HWND window) {
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (lstrcmpW(className, L"#32768") == 0) return PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0); // a popup menu
    // A yes/no question has no Cancel: No is its safe answer.
    int button = !GetDlgItem(window, IDCANCEL) && GetDlgItem(window, IDNO) ? IDNO : IDCANCEL;
    return PostMessageW(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

HWND FirstVisibleWindow() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND window, LPARAM result) -> BOOL {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

bool RunEnding() { return runEnding; }

void CloseProcessWindows() { EnumWindows(&CancelOne, 0); }

RunLimit::RunLimit(DWORD limitMs, const std::wstring& hiddenDisplay)
    : limitMs_(limitMs), hiddenDisplay_(hiddenDisplay), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (done_) thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Watch, this, 0, nullptr));
}

RunLimit::~RunLimit() {
    if (thread_) {
        SetEvent(done_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
    if (done_) CloseHandle(done_);
}

unsigned __stdcall RunLimit::Watch(void* self) {
    auto* limit = static_cast<RunLimit*>(self);
    DWORD start = GetTickCount(), seenAt = 0;
    HWND seen = nullptr;
    while (WaitForSingleObject(limit->done_, kPollMs) == WAIT_TIMEOUT) {
        // A window that stays a second: message boxes answered by --answer close at once.
        HWND window = limit->hiddenDisplay_.empty() ? nullptr : FirstVisibleWindow();
        if (window != seen) seenAt = GetTickCount();
        seen = window;
        if (window && GetTickCount() - seenAt >= kUnseenMs) {
            wchar_t title[256] = {};
            GetWindowTextW(window, title, 256);
            PrintError(L"a window (\"" + std::wstring(title) + L"\") opened on display " + limit->hiddenDisplay_ +
                       L", the session's own Xvfb, where nobody sees it: closed. Drive it with --steps, answer it with "
                       L"--answer, or show it with KESTRUNE_DISPLAY=$DISPLAY tools/wine-shell.sh");
            limit->windowUnseen_ = true;
        } else if (GetTickCount() - start >= limit->limitMs_) {
            PrintError(L"timed out after " + std::to_wstring(limit->limitMs_ / 1000) +
                       L" s (--timeout SECONDS sets the limit): closing the windows");
            limit->timedOut_ = true;
        } else {
            continue;
        }
        runEnding = true;
        // Close until the command returns; a loop that ignores every close ends with the process.
        for (DWORD waited = 0; waited < kCloseGraceMs; waited += 500) {
            CloseProcessWindows();
            if (WaitForSingleObject(limit->done_, 500) == WAIT_OBJECT_0) return 0;
        }
        wchar_t title[256] = L"none is left open";
        if (HWND left = FirstVisibleWindow()) GetWindowTextW(left, title, 256);
        PrintError(L"the command did not end (windows: " + std::wstring(title) + L"): ending the process");
        ExitProcess(limit->timedOut_ ? kTimedOut : kNoDisplay);
    }
    return 0;
}

} // namespace kestrune::trying
