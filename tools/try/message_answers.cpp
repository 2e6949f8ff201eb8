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

} // namespace

MessageAnswers::MessageAnswers(int answer) : answer_(answer) {
    if (!answer_) return;
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
        if (wcscmp(className, L"#32770") == 0 && GetDlgItem(box, kMessageTextId)) current_->Answer(box);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MessageAnswers::Answer(HWND box) const {
    wchar_t title[520] = {}, text[1024] = {};
    GetWindowTextW(box, title, 520);
    GetDlgItemTextW(box, kMessageTextId, text, 1024);
    int button = IDCANCEL;
    for (int candidate : {answer_, IDOK, IDCANCEL}) {
        if (GetDlgItem(box, candidate)) {
            button = candidate;
            break;
        }
    }
    Print(std::wstring(L"message box \"") + title + L"\": " + text);
    Print(std::wstring(L"  answered ") + ButtonName(button));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

} // namespace kestrune::trying
