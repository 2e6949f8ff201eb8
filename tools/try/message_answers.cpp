#include "tools/try/message_answers.h"

#include <cwchar>
#include <string>

#include "tools/try/console.h"

namespace kestrune::trying {
namespace {

constexpr int kMessageTextId = 0xFFFF; // the text control of a message box

const wchar_t* ButtonName(int id) {
    switch (id) {
    case IDYES: return L"Yes";
    case IDNO: return L"No";
    case IDOK: return L"OK";
    default: return L"Cancel";
    }
}

// Whether a box shows the system's error icon (MB_ICONERROR, MB_ICONHAND, MB_ICONSTOP): the
// shared icon is one handle, whoever loads it.
BOOL CALLBACK FindErrorIcon(HWND child, LPARAM found) {
    HICON icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    if (icon && icon == LoadIconW(nullptr, IDI_HAND)) *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

} // namespace

MessageAnswers::MessageAnswers(int answer) : answer_(answer) {
    current_ = this;
    hook_ = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
}

MessageAnswers::~MessageAnswers() {
    if (hook_) UnhookWindowsHookEx(hook_);
    if (current_ == this) current_ = nullptr;
}

LRESULT CALLBACK MessageAnswers::Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && current_) {
        HWND box = reinterpret_cast<HWND>(wParam);
        wchar_t className[32] = {};
        GetClassNameW(box, className, 32);
        if (wcscmp(className, L"#32770") == 0 && GetDlgItem(box, kMessageTextId)) current_->Seen(box);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MessageAnswers::Seen(HWND box) {
    // A box is activated again whenever it regains the focus.
    for (HWND known : seen_)
        if (known == box) return;
    seen_.push_back(box);
    wchar_t title[520] = {}, text[1024] = {};
    GetWindowTextW(box, title, 520);
    GetDlgItemTextW(box, kMessageTextId, text, 1024);
    bool error = false;
    EnumChildWindows(box, &FindErrorIcon, reinterpret_cast<LPARAM>(&error));
    if (error) error_ = text;
    Print(std::wstring(L"message box \"") + title + L"\"" + (error ? L" (error)" : L"") + L": " + text);
    if (!answer_) return;
    int button = IDCANCEL;
    for (int candidate : {answer_, IDOK, IDCANCEL}) {
        if (GetDlgItem(box, candidate)) {
            button = candidate;
            break;
        }
    }
    Print(std::wstring(L"  answered ") + ButtonName(button));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

} // namespace kestrune::trying
