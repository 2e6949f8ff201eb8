#include "tools/try/scripted_steps.h"

#include <commctrl.h>
#include <process.h>
#include <prsht.h>

#include <cwchar>
#include <cwctype>

#include "tools/try/console.h"

namespace kestrune::trying {
namespace {

constexpr DWORD kWindowWaitMs = 30000;
constexpr DWORD kListWaitMs = 60000;
constexpr DWORD kPollMs = 100;
constexpr int kStepFailedExitCode = 5;

std::wstring Trim(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && iswspace(text[begin])) ++begin;
    while (end > begin && iswspace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

int ControlId(const std::wstring& text) { return static_cast<int>(wcstol(text.c_str(), nullptr, 10)); }

std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

struct WindowSearch {
    const std::wstring* text;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (WindowText(window).find(*search->text) == std::wstring::npos) return TRUE;
    search->found = window;
    return FALSE;
}

class ScreenCopy {
public:
    ScreenCopy(int width, int height) : screen_(GetDC(nullptr)) {
        memory_ = CreateCompatibleDC(screen_);
        bitmap_ = CreateCompatibleBitmap(screen_, width, height);
        if (memory_ && bitmap_) previous_ = SelectObject(memory_, bitmap_);
    }
    ~ScreenCopy() {
        if (previous_) SelectObject(memory_, previous_);
        if (bitmap_) DeleteObject(bitmap_);
        if (memory_) DeleteDC(memory_);
        ReleaseDC(nullptr, screen_);
    }
    ScreenCopy(const ScreenCopy&) = delete;
    ScreenCopy& operator=(const ScreenCopy&) = delete;

    bool Copy(const RECT& from) {
        return previous_ && BitBlt(memory_, 0, 0, from.right - from.left, from.bottom - from.top, screen_, from.left,
                                   from.top, SRCCOPY);
    }
    bool Pixels(BITMAPINFOHEADER& header, std::vector<BYTE>& pixels) {
        SelectObject(memory_, previous_); // GetDIBits wants the bitmap selected nowhere
        previous_ = nullptr;
        return GetDIBits(memory_, bitmap_, 0, header.biHeight, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header),
                         DIB_RGB_COLORS) == header.biHeight;
    }

private:
    HDC screen_;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

} // namespace

bool SaveWindowPicture(HWND window, const std::wstring& path) {
    RECT rect;
    if (!GetWindowRect(window, &rect) || rect.right <= rect.left || rect.bottom <= rect.top) return false;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = rect.right - rect.left;
    header.biHeight = rect.bottom - rect.top; // bottom-up rows, as BMP files keep them
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    DWORD rowBytes = (static_cast<DWORD>(header.biWidth) * 3 + 3) & ~3u;
    header.biSizeImage = rowBytes * header.biHeight;
    std::vector<BYTE> pixels(header.biSizeImage);
    ScreenCopy copy(header.biWidth, header.biHeight);
    if (!copy.Copy(rect) || !copy.Pixels(header, pixels)) return false;

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    bool written = WriteFile(out, &file, sizeof file, &done, nullptr) && WriteFile(out, &header, sizeof header, &done, nullptr) &&
                   WriteFile(out, pixels.data(), header.biSizeImage, &done, nullptr);
    CloseHandle(out);
    return written;
}

ScriptedSteps::~ScriptedSteps() {
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
}

bool ScriptedSteps::Parse(const std::wstring& script) {
    static const wchar_t* const kVerbs[] = {L"window", L"page", L"click", L"wait-list", L"shot", L"sleep", L"close"};
    size_t start = 0;
    while (start <= script.size()) {
        size_t end = script.find(L';', start);
        if (end == std::wstring::npos) end = script.size();
        std::wstring text = Trim(script.substr(start, end - start));
        start = end + 1;
        if (text.empty()) continue;
        size_t space = text.find(L' ');
        Step step{text.substr(0, space), space == std::wstring::npos ? L"" : Trim(text.substr(space))};
        bool known = false;
        for (const wchar_t* verb : kVerbs) known = known || step.verb == verb;
        if (!known) {
            PrintError(L"unknown step \"" + step.verb + L"\" in --steps");
            return false;
        }
        steps_.push_back(step);
    }
    return true;
}

bool ScriptedSteps::Start() {
    if (steps_.empty()) return true;
    thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Run, this, 0, nullptr));
    return thread_ != nullptr;
}

int ScriptedSteps::Finish() {
    // The steps may still send to windows of this thread: keep its messages flowing meanwhile.
    while (thread_ && MsgWaitForMultipleObjects(1, &thread_, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    if (thread_) {
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    return failed_ ? kStepFailedExitCode : 0;
}

unsigned __stdcall ScriptedSteps::Run(void* self) {
    auto* steps = static_cast<ScriptedSteps*>(self);
    for (const Step& step : steps->steps_) {
        if (!steps->Perform(step)) {
            steps->failed_ = true;
            PrintError(L"step failed: " + step.verb + L" " + step.argument);
        }
    }
    return 0;
}

bool ScriptedSteps::FindWindow(const std::wstring& text) {
    for (DWORD waited = 0; waited < kWindowWaitMs; waited += kPollMs) {
        WindowSearch search{&text, nullptr};
        EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            window_ = search.found;
            page_ = nullptr;
            Sleep(500); // let it finish painting
            Print(L"window \"" + WindowText(window_) + L"\"");
            return true;
        }
        Sleep(kPollMs);
    }
    PrintError(L"no window \"" + text + L"\" appeared");
    return false;
}

bool ScriptedSteps::SelectPage(int id) {
    HWND tabs = PropSheet_GetTabControl(window_);
    int count = tabs ? TabCtrl_GetItemCount(tabs) : 0;
    std::wstring titles;
    for (int index = 0; index < count; ++index) {
        wchar_t title[128] = {};
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = title;
        item.cchTextMax = 128;
        TabCtrl_GetItem(tabs, index, &item);
        titles += (titles.empty() ? L"\"" : L", \"") + std::wstring(title) + L"\"";
        PropSheet_SetCurSel(window_, nullptr, index);
        HWND page = PropSheet_GetCurrentPageHwnd(window_);
        if (page && GetDlgItem(page, id)) {
            page_ = page;
            Sleep(300);
            Print(L"page \"" + std::wstring(title) + L"\"");
            return true;
        }
    }
    PrintError(L"no page of this sheet holds control " + std::to_wstring(id) + L"; its pages: " + titles);
    return false;
}

HWND ScriptedSteps::Control(int id) const {
    HWND control = page_ ? GetDlgItem(page_, id) : nullptr;
    return control ? control : (window_ ? GetDlgItem(window_, id) : nullptr);
}

bool ScriptedSteps::Perform(const Step& step) {
    if (step.verb == L"window") return FindWindow(step.argument);
    if (step.verb == L"sleep") {
        Sleep(static_cast<DWORD>(ControlId(step.argument)));
        return true;
    }
    if (!window_ || !IsWindow(window_)) return false;
    if (step.verb == L"page") return SelectPage(ControlId(step.argument));
    if (step.verb == L"shot") {
        RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(300);
        if (!SaveWindowPicture(window_, step.argument)) return false;
        Print(L"picture " + step.argument);
        return true;
    }
    if (step.verb == L"close") return PostMessageW(window_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    HWND control = Control(ControlId(step.argument));
    if (!control) return false;
    if (step.verb == L"click") return PostMessageW(control, BM_CLICK, 0, 0);
    // wait-list
    for (DWORD waited = 0; waited < kListWaitMs; waited += kPollMs) {
        LRESULT count = SendMessageW(control, LB_GETCOUNT, 0, 0);
        if (count > 0) {
            Sleep(500); // the worker may still be adding lines
            count = SendMessageW(control, LB_GETCOUNT, 0, 0);
            for (LRESULT index = 0; index < count; ++index) {
                wchar_t line[MAX_PATH + 1] = {};
                if (SendMessageW(control, LB_GETTEXTLEN, index, 0) <= MAX_PATH)
                    SendMessageW(control, LB_GETTEXT, index, reinterpret_cast<LPARAM>(line));
                Print(std::wstring(L"  ") + line);
            }
            return true;
        }
        Sleep(kPollMs);
    }
    return false;
}

} // namespace kestrune::trying
