// Answers the message boxes a call shows on this thread and records what they said.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace kestrune::testing {

struct SeenMessage {
    std::wstring text;
    std::wstring title;
    HICON icon = nullptr;
};

// What a message box says: its text (control 0xFFFF), title and icon.
inline SeenMessage ReadMessageBox(HWND box) {
    SeenMessage message;
    wchar_t buffer[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, buffer, 1024);
    message.text = buffer;
    GetWindowTextW(box, buffer, 1024);
    message.title = buffer;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && GetDlgCtrlID(child) != 0xFFFF) {
            HICON icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
            if (icon) message.icon = icon;
        }
    }
    return message;
}

class MessageBoxWatcher {
public:
    // `answer` is the button pressed (IDOK, IDYES, IDNO...).
    explicit MessageBoxWatcher(int answer = IDOK) : answer_(answer) {
        current_ = this;
        hook_ = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    }
    ~MessageBoxWatcher() {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    const std::vector<SeenMessage>& Seen() const { return seen_; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && current_) {
            HWND box = reinterpret_cast<HWND>(wParam);
            wchar_t className[32] = {};
            GetClassNameW(box, className, 32);
            if (wcscmp(className, L"#32770") == 0) current_->Record(box);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    void Record(HWND box) {
        seen_.push_back(ReadMessageBox(box));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer_, BN_CLICKED), 0);
    }

    static inline MessageBoxWatcher* current_ = nullptr;
    HHOOK hook_ = nullptr;
    int answer_;
    std::vector<SeenMessage> seen_;
};

} // namespace kestrune::testing
