// Drives what a flow shows on this thread. The folder browser takes the next scripted choice,
// a message box the next scripted answer, and the information dialog, whenever it waits for
// input, the next scripted step; everything is recorded.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <commctrl.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/com/message_box_watcher.h"

namespace kestrune::testing {

class ShellUiScript {
public:
    // `browse`: the folder each browser chooses, "" to cancel; `answers`: the yes/no answers.
    // Browsers and questions beyond the script are cancelled and answered No.
    explicit ShellUiScript(std::vector<std::wstring> browse = {}, std::vector<int> answers = {})
        : browse_(std::move(browse)), answers_(std::move(answers)) {
        current_ = this;
        hook_ = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    }
    ~ShellUiScript() {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    ShellUiScript(const ShellUiScript&) = delete;
    ShellUiScript& operator=(const ShellUiScript&) = delete;

    std::vector<SeenMessage> messages;
    std::vector<std::wstring> browserStatus; // each browser's status line when it opened

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        HWND window = reinterpret_cast<HWND>(wParam);
        wchar_t className[16] = {};
        if (code == HCBT_ACTIVATE && current_ && GetClassNameW(window, className, 16) &&
            wcscmp(className, L"#32770") == 0 && current_->seen_.insert(window).second) {
            if (FindWindowExW(window, nullptr, L"SysTreeView32", nullptr)) {
                // Acts once the browser has nothing else to do: its first selection is made by then.
                current_->browser_ = window;
                SetTimer(nullptr, 0, 10, &BrowseLater);
            }
            else if (!GetDlgItem(window, 203)) // not the information dialog
                current_->Answer(window);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static void CALLBACK BrowseLater(HWND, UINT, UINT_PTR timer, DWORD) {
        KillTimer(nullptr, timer);
        if (current_ && current_->browser_) current_->Browse();
    }
    static std::wstring Status(HWND browser) {
        wchar_t status[MAX_PATH] = {};
        GetDlgItemTextW(browser, 0x3743, status, MAX_PATH);
        return status;
    }
    void Browse() {
        if (tries_ == 0) {
            browserStatus.push_back(Status(browser_));
            choice_ = next_ < browse_.size() ? browse_[next_++] : L"";
        }
        if (!choice_.empty() && !Select(browser_, choice_) && ++tries_ < 50) {
            SetTimer(nullptr, 0, 20, &BrowseLater); // still busy: try again later
            return;
        }
        tries_ = 0;
        PostMessageW(std::exchange(browser_, nullptr), WM_COMMAND, choice_.empty() ? IDCANCEL : IDOK, 0);
    }
    // Selects `path` in the browser; whether its status line then shows it. Wine's browser at times
    // ignores BFFM_SETSELECTIONW for a sibling of its selection: that one is picked in the tree.
    static bool Select(HWND browser, const std::wstring& path) {
        auto shown = [&] { return CompareStringOrdinal(Status(browser).c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL; };
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
        HWND tree = FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr);
        std::wstring name = path.substr(path.rfind(L'\\') + 1);
        HTREEITEM item = TreeView_GetChild(tree, TreeView_GetParent(tree, TreeView_GetSelection(tree)));
        for (; item && !shown(); item = TreeView_GetNextSibling(tree, item)) {
            wchar_t text[MAX_PATH] = {};
            TVITEMW data = {TVIF_TEXT, item, 0, 0, text, MAX_PATH, 0, 0, 0, 0};
            if (TreeView_GetItem(tree, &data) && CompareStringOrdinal(text, -1, name.c_str(), -1, TRUE) == CSTR_EQUAL)
                TreeView_SelectItem(tree, item);
        }
        return shown();
    }
    void Answer(HWND box) {
        messages.push_back(ReadMessageBox(box));
        int answer = IDOK;
        if (GetDlgItem(box, IDYES)) answer = nextAnswer_ < answers_.size() ? answers_[nextAnswer_++] : IDNO;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    }

    static inline ShellUiScript* current_ = nullptr;
    HHOOK hook_ = nullptr;
    std::vector<std::wstring> browse_;
    std::vector<int> answers_;
    size_t next_ = 0, nextAnswer_ = 0;
    std::wstring choice_;
    int tries_ = 0;
    std::set<HWND> seen_;
    HWND browser_ = nullptr;
};

// Owns the information dialog (through `window`, or a window of its own) and, each time the
// dialog waits for input, records the edit's text and takes the next step; then it closes it.
// A modal dialog's idle notice goes to its owner's top-level window: that one is listened to.
class InfoDialogOwner {
public:
    using Step = std::function<void(HWND dialog)>;
    static Step Press(int id) {
        return [id](HWND dialog) { // as a click: a disabled button does nothing
            if (IsWindowEnabled(GetDlgItem(dialog, id))) SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        };
    }

    explicit InfoDialogOwner(std::vector<Step> steps, HWND window = nullptr) : steps_(std::move(steps)), own_(!window) {
        window_ = window ? window : CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 100, 80, 600, 400,
                                                    nullptr, nullptr, nullptr, nullptr);
        top_ = GetAncestor(window_, GA_ROOT);
        SetPropW(top_, L"InfoDialogOwner", this);
        previous_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(top_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure)));
    }
    ~InfoDialogOwner() {
        SetWindowLongPtrW(top_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
        RemovePropW(top_, L"InfoDialogOwner");
        if (own_) DestroyWindow(window_);
    }
    InfoDialogOwner(const InfoDialogOwner&) = delete;
    InfoDialogOwner& operator=(const InfoDialogOwner&) = delete;

    HWND Window() const { return window_; }
    std::vector<std::wstring> edits; // before each step and at the end
    RECT dialogRect = {};
    LONG_PTR userData = 0;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = static_cast<InfoDialogOwner*>(GetPropW(window, L"InfoDialogOwner"));
        HWND dialog = reinterpret_cast<HWND>(lParam);
        if (message == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX && GetDlgItem(dialog, 203) && !self->closing_) {
            wchar_t text[MAX_PATH] = {};
            GetDlgItemTextW(dialog, 203, text, MAX_PATH);
            self->edits.push_back(text);
            if (self->edits.size() == 1) {
                GetWindowRect(dialog, &self->dialogRect);
                self->userData = GetWindowLongPtrW(dialog, DWLP_USER);
            }
            if (self->next_ < self->steps_.size()) {
                self->steps_[self->next_++](dialog);
                PostMessageW(dialog, WM_NULL, 0, 0); // the dialog's loop waits for a message before idling again
            } else {
                self->closing_ = true;
                SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            }
            return 0;
        }
        return CallWindowProcW(self->previous_, window, message, wParam, lParam);
    }

    std::vector<Step> steps_;
    size_t next_ = 0;
    bool own_ = false, closing_ = false;
    HWND window_ = nullptr, top_ = nullptr;
    WNDPROC previous_ = nullptr;
};

} // namespace kestrune::testing
