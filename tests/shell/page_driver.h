// Drives a property page in a real modeless property sheet: the page from AddPages, commands
// sent as the buttons send them, and the dialogs the page opens answered from a CBT hook.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <prsht.h>
#include <shlobj.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

namespace kestrune::testing {

// One answer to the next dialog: a button, or a text typed (a stream name, a file path) and OK.
struct Answer {
    int button = IDOK;
    std::wstring text;
};
inline Answer Yes() { return {IDYES, L""}; }
inline Answer No() { return {IDNO, L""}; }
inline Answer Press(int button) { return {button, L""}; }
inline Answer Type(const std::wstring& text) { return {IDOK, text}; }

struct SeenDialog {
    std::wstring text;  // a message box's text; the file name a file dialog proposed
    std::wstring title;
    bool error = false; // a message box with the error icon
};

class DialogScript {
public:
    explicit DialogScript(std::vector<Answer> answers) : answers_(answers.begin(), answers.end()) {
        current_ = this;
        hook_ = SetWindowsHookExW(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    }
    ~DialogScript() {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    std::vector<SeenDialog> seen;
    size_t Unused() const { return answers_.size(); }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && current_) current_->Respond(reinterpret_cast<HWND>(wParam));
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static std::wstring TextOf(HWND window) {
        wchar_t text[1024] = {};
        GetWindowTextW(window, text, 1024);
        return text;
    }
    void TypeAndClose(HWND dialog, HWND edit) {
        if (answers_.empty()) return;
        kestrune::testing::Answer a = answers_.front();
        answers_.pop_front();
        if (edit) SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.text.c_str()));
        else SendMessageW(dialog, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(a.text.c_str()));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(a.button, BN_CLICKED), 0);
    }
    void Respond(HWND dialog) {
        wchar_t className[32] = {};
        GetClassNameW(dialog, className, 32);
        if (wcscmp(className, L"#32770") != 0 || handled_.count(dialog)) return;
        SeenDialog s{L"", TextOf(dialog), false};
        handled_.insert(dialog);
        if (HWND message = GetDlgItem(dialog, 0xFFFF)) {
            s.text = TextOf(message);
            for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && GetDlgCtrlID(c) != 0xFFFF)
                    s.error = reinterpret_cast<HICON>(SendMessageW(c, STM_GETICON, 0, 0)) == LoadIconW(nullptr, IDI_HAND);
            seen.push_back(s);
            // Unscripted: No, so that the test fails instead of hanging.
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(answers_.empty() ? IDNO : answers_.front().button, 0), 0);
            if (!answers_.empty()) answers_.pop_front();
            // A refused name: the name dialog below takes the next answer once the box is gone.
            HWND owner = GetWindow(dialog, GW_OWNER);
            if (owner && handled_.count(owner) && GetDlgItem(owner, 204)) TypeAndClose(owner, GetDlgItem(owner, 204));
            return;
        }
        bool nameDialog = s.title == L"ストリーム名の入力";
        bool fileDialog = GetDlgItem(dialog, cmb13) || GetDlgItem(dialog, edt1);
        if (!nameDialog && !fileDialog) return; // the sheet itself, active again
        if (answers_.empty()) answers_.push_back({IDCANCEL, L""});
        if (fileDialog) {
            wchar_t spec[MAX_PATH] = {};
            SendMessageW(dialog, CDM_GETSPEC, MAX_PATH, reinterpret_cast<LPARAM>(spec));
            s.text = spec;
        }
        seen.push_back(s);
        TypeAndClose(dialog, nameDialog ? GetDlgItem(dialog, 204) : nullptr);
    }

    static inline DialogScript* current_ = nullptr;
    HHOOK hook_ = nullptr;
    std::deque<kestrune::testing::Answer> answers_;
    std::set<HWND> handled_;
};

// Dispatches this thread's messages until `done` holds or about ten seconds have passed.
template <typename Done> bool PumpUntil(Done done) {
    for (int i = 0; i < 5000 && !done(); ++i) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
    }
    return done();
}

// A modeless sheet holding the pages that `extension` adds.
class Sheet {
public:
    explicit Sheet(IShellPropSheetExt* extension) {
        extension->AddPages(&Collect, reinterpret_cast<LPARAM>(&pages_));
        if (pages_.empty()) return;
        PROPSHEETHEADERW header = {};
        header.dwSize = sizeof header;
        header.dwFlags = PSH_MODELESS;
        header.pszCaption = L"item";
        header.nPages = static_cast<UINT>(pages_.size());
        header.phpage = pages_.data();
        window = reinterpret_cast<HWND>(PropertySheetW(&header));
        page = reinterpret_cast<HWND>(SendMessageW(window, PSM_INDEXTOHWND, 0, 0));
    }
    ~Sheet() { Close(); }
    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;
    void Close() {
        if (window) DestroyWindow(window);
        window = page = nullptr;
    }
    void Command(int id, int code = BN_CLICKED) {
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
    }
    std::wstring Text(int id) {
        wchar_t text[2048] = {};
        GetDlgItemTextW(page, id, text, 2048);
        return text;
    }
    std::vector<std::wstring> Items(int list) {
        std::vector<std::wstring> items;
        LRESULT count = SendDlgItemMessageW(page, list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[MAX_PATH] = {};
            SendDlgItemMessageW(page, list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            items.push_back(text);
        }
        return items;
    }
    void Select(int list, int index) {
        SendDlgItemMessageW(page, list, LB_SETCURSEL, index, 0);
        Command(list, LBN_SELCHANGE);
    }

    HWND window = nullptr;
    HWND page = nullptr;

private:
    static BOOL CALLBACK Collect(HPROPSHEETPAGE page, LPARAM pages) {
        reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(pages)->push_back(page);
        return TRUE;
    }
    std::vector<HPROPSHEETPAGE> pages_;
};

} // namespace kestrune::testing
