// Drives a property page in a real modeless property sheet (the page from AddPages, commands sent
// as its controls send them) and answers the dialogs it opens from a CBT hook.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <shlobj.h>

#include <set>
#include <string>
#include <vector>

namespace kestrune::testing {

// The answer to the next dialog: a button, after typing the text (a stream name, a file path).
struct Answer { int button; std::wstring text; };
inline Answer Press(int button) { return {button, L""}; }
inline Answer Type(const std::wstring& text) { return {IDOK, text}; }

class DialogScript {
public:
    explicit DialogScript(std::vector<Answer> answers) : answers_(std::move(answers)) { current_ = this; }
    ~DialogScript() {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    std::vector<std::wstring> told; // the message boxes' texts,
    std::vector<bool> errors;       // whether each had the error icon,
    std::wstring offered;           // and the file name the last file dialog offered
    int progressShown = 0;          // progress windows of long copies (answered with the next button)

private:
    static constexpr const wchar_t* kNameDialog = L"ストリーム名の入力";
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && current_) current_->Respond(reinterpret_cast<HWND>(wParam));
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static std::wstring TextOf(HWND window) {
        wchar_t text[1024] = {};
        return std::wstring(text, GetWindowTextW(window, text, 1024));
    }
    // Unscripted dialogs get No or Cancel: the test fails instead of hanging.
    Answer Next() { return next_ < answers_.size() ? answers_[next_++] : Answer{IDNO, L""}; }
    void TypeAndClose(HWND dialog, bool nameDialog) {
        Answer next = Next();
        if (nameDialog) SetDlgItemTextW(dialog, 204, next.text.c_str());
        else SendMessageW(dialog, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(next.text.c_str()));
        PostMessageW(dialog, WM_COMMAND, next.button == IDNO ? IDCANCEL : next.button, 0);
    }
    void Respond(HWND dialog) {
        if (!handled_.insert(dialog).second) return; // the sheet, active again, among them
        wchar_t typedName[MAX_PATH] = {};
        if (HWND message = GetDlgItem(dialog, 0xFFFF)) {
            told.push_back(TextOf(message));
            auto icon = reinterpret_cast<HICON>(SendDlgItemMessageW(dialog, 0x440, STM_GETICON, 0, 0));
            errors.push_back(icon == LoadIconW(nullptr, IDI_HAND));
            PostMessageW(dialog, WM_COMMAND, Next().button, 0);
            // A refused name: the name dialog takes the next answer once the box is gone.
            if (TextOf(GetWindow(dialog, GW_OWNER)) == kNameDialog) TypeAndClose(GetWindow(dialog, GW_OWNER), true);
        } else if (GetDlgItem(dialog, 1001)) {
            ++progressShown;
            PostMessageW(dialog, WM_COMMAND, Next().button, 0);
        } else if (TextOf(dialog) == kNameDialog) {
            TypeAndClose(dialog, true);
        } else if (GetDlgItem(dialog, cmb13)) {
            SendMessageW(dialog, CDM_GETSPEC, MAX_PATH, reinterpret_cast<LPARAM>(typedName));
            offered = typedName;
            TypeAndClose(dialog, false);
        }
    }

    static inline DialogScript* current_ = nullptr;
    HHOOK hook_ = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    std::vector<Answer> answers_;
    size_t next_ = 0;
    std::set<HWND> handled_;
};

// Dispatches this thread's messages until `done` holds or about ten seconds have passed.
template <typename Done> bool PumpUntil(Done done) {
    for (int i = 0; i < 5000 && !done(); ++i) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
    }
    return done();
}

// A modeless sheet of the pages that `extension` adds; closing it releases them.
struct Sheet {
    explicit Sheet(IShellPropSheetExt* extension) {
        std::vector<HPROPSHEETPAGE> pages;
        extension->AddPages([](HPROPSHEETPAGE added, LPARAM to) -> BOOL {
            return reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(to)->push_back(added), TRUE;
        }, reinterpret_cast<LPARAM>(&pages));
        UINT count = static_cast<UINT>(pages.size());
        PROPSHEETHEADERW header = {sizeof header, PSH_MODELESS, nullptr, nullptr, {}, nullptr, count, {}, {}, nullptr, {}, nullptr, {}};
        header.phpage = pages.data();
        window = pages.empty() ? nullptr : reinterpret_cast<HWND>(PropertySheetW(&header));
        page = PropSheet_IndexToHwnd(window, 0);
    }
    ~Sheet() { DestroyWindow(window); }
    void Command(int id, int code = BN_CLICKED) {
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
    }
    std::wstring Text(int id) {
        wchar_t text[2048] = {};
        return std::wstring(text, GetDlgItemTextW(page, id, text, 2048));
    }
    template <typename List = std::vector<std::wstring>> List Items(int list) {
        List items;
        wchar_t text[MAX_PATH];
        for (LRESULT i = 0; i < SendDlgItemMessageW(page, list, LB_GETCOUNT, 0, 0); ++i)
            items.insert(items.end(), std::wstring(text, SendDlgItemMessageW(page, list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text))));
        return items;
    }
    void Select(int list, const std::wstring& prefix) {
        SendDlgItemMessageW(page, list, LB_SELECTSTRING, -1, reinterpret_cast<LPARAM>(prefix.c_str()));
        Command(list, LBN_SELCHANGE);
    }
    HWND window, page;
};

} // namespace kestrune::testing
