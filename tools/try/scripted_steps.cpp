#include "tools/try/scripted_steps.h"

#include <commctrl.h>
#include <process.h>
#include <prsht.h>
#include <shlobj.h>

#include <cwchar>
#include <cwctype>
#include <algorithm>

#include "tools/try/console.h"
#include "tools/try/run_limit.h"

namespace kestrune::trying {
namespace {

constexpr DWORD kWindowWaitMs = 30000;
constexpr DWORD kListWaitMs = 60000;
constexpr DWORD kPollMs = 100;
constexpr int kStepFailedExitCode = 5;
constexpr size_t kColoursOfAPicture = 2; // one colour inside the frame: nothing was drawn
constexpr int kBrowserStatusId = 0x3743; // the folder browser's status line

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
    const wchar_t* className; // nullptr: any class
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (WindowText(window).find(*search->text) == std::wstring::npos) return TRUE;
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (search->className && lstrcmpW(className, search->className) != 0) return TRUE;
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

// Distinct colours inside the window's frame (4 pixels in), counted up to `enough`.
size_t CountColours(const std::vector<BYTE>& pixels, DWORD rowBytes, LONG width, size_t enough) {
    constexpr LONG kFrame = 4;
    std::vector<DWORD> seen;
    size_t rows = pixels.size() / rowBytes;
    for (size_t row = kFrame; row + kFrame < rows && seen.size() < enough; ++row)
        for (LONG x = kFrame; x + kFrame < width && seen.size() < enough; ++x) {
            const BYTE* pixel = &pixels[row * rowBytes + x * 3];
            DWORD colour = pixel[0] | pixel[1] << 8 | pixel[2] << 16;
            if (std::find(seen.begin(), seen.end(), colour) == seen.end()) seen.push_back(colour);
        }
    return seen.size();
}

} // namespace

bool SaveWindowPicture(HWND window, const std::wstring& path, size_t& colours) {
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
    colours = CountColours(pixels, rowBytes, header.biWidth, kColoursOfAPicture);

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

std::wstring ScriptedSteps::Parse(const std::wstring& script) {
    static const wchar_t* const kVerbs[] = {L"window", L"menu",  L"page",  L"click", L"wait-list",
                                            L"select", L"select-item", L"shot", L"sleep", L"close"};
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
        if (!known) return L"unknown step \"" + step.verb + L"\"";
        steps_.push_back(step);
    }
    return L"";
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
    // Later steps may have been meant to close what is open: nothing is left waiting for a person.
    if (steps->failed_) CloseProcessWindows();
    return 0;
}

bool ScriptedSteps::FindWindow(const std::wstring& text) {
    for (DWORD waited = 0; waited < kWindowWaitMs && !RunEnding(); waited += kPollMs) {
        WindowSearch search{&text, nullptr, nullptr};
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

bool ScriptedSteps::FindMenu() {
    std::wstring any;
    for (DWORD waited = 0; waited < kWindowWaitMs && !RunEnding(); waited += kPollMs) {
        WindowSearch search{&any, L"#32768", nullptr};
        EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            window_ = search.found;
            page_ = nullptr;
            Sleep(300);
            Print(L"popup menu");
            return true;
        }
        Sleep(kPollMs);
    }
    PrintError(L"no popup menu appeared");
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
            return PageInsideSheet();
        }
    }
    PrintError(L"no page of this sheet holds control " + std::to_wstring(id) + L"; its pages: " + titles);
    return false;
}

// Every visible control of the page within the sheet's page area (the tab control's display
// rectangle): a page laid out wider or taller than its sheet loses its edges.
bool ScriptedSteps::PageInsideSheet() const {
    HWND tabs = PropSheet_GetTabControl(window_);
    RECT area;
    if (!tabs || !GetWindowRect(tabs, &area)) return false;
    TabCtrl_AdjustRect(tabs, FALSE, &area);
    int inside = 0;
    bool all = true;
    for (HWND control = GetWindow(page_, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        RECT rect;
        if (!IsWindowVisible(control) || !GetWindowRect(control, &rect)) continue;
        if (rect.left >= area.left && rect.top >= area.top && rect.right <= area.right && rect.bottom <= area.bottom) {
            ++inside;
            continue;
        }
        all = false;
        PrintError(L"control " + std::to_wstring(GetDlgCtrlID(control)) + L" (\"" + WindowText(control) +
                   L"\") lies outside the sheet: " + std::to_wstring(rect.left) + L"," + std::to_wstring(rect.top) + L"-" +
                   std::to_wstring(rect.right) + L"," + std::to_wstring(rect.bottom) + L" beyond the page area " +
                   std::to_wstring(area.left) + L"," + std::to_wstring(area.top) + L"-" + std::to_wstring(area.right) + L"," +
                   std::to_wstring(area.bottom));
    }
    if (all) Print(L"all " + std::to_wstring(inside) + L" controls of the page inside the sheet");
    return all;
}

// Selects item `number` (1 = the first) of list box `id`, as a click would, and checks that the
// list shows it.
bool ScriptedSteps::SelectItem(const std::wstring& argument) {
    size_t space = argument.find(L' ');
    int id = ControlId(argument), number = space == std::wstring::npos ? 0 : ControlId(argument.substr(space + 1));
    HWND list = Control(id);
    if (!list || number < 1 || SendMessageW(list, LB_SETCURSEL, number - 1, 0) == LB_ERR) return false;
    SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    RECT client, item = {};
    GetClientRect(list, &client);
    SendMessageW(list, LB_GETITEMRECT, number - 1, reinterpret_cast<LPARAM>(&item));
    bool inView = item.top >= client.top && item.bottom <= client.bottom;
    (inView ? Print : PrintError)(L"item " + std::to_wstring(number) + (inView ? L" selected, in view" : L" selected, out of view"));
    return inView;
}

// Wine's browser at times ignores BFFM_SETSELECTIONW while it still fills its tree, and for a
// sibling of its selection: asked again, and the sibling picked in the tree, until the status line
// and the tree show the folder.
bool ScriptedSteps::SelectFolder(const std::wstring& path) {
    HWND tree = FindWindowExW(window_, nullptr, WC_TREEVIEWW, nullptr);
    std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    for (DWORD waited = 0; tree && waited < kWindowWaitMs && !RunEnding(); waited += 5 * kPollMs) {
        SendMessageW(window_, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
        Sleep(5 * kPollMs);
        HTREEITEM sibling = TreeView_GetChild(tree, TreeView_GetParent(tree, TreeView_GetSelection(tree)));
        for (; sibling; sibling = TreeView_GetNextSibling(tree, sibling)) {
            wchar_t label[MAX_PATH] = {};
            TVITEMW data = {};
            data.mask = TVIF_TEXT;
            data.hItem = sibling;
            data.pszText = label;
            data.cchTextMax = MAX_PATH;
            if (TreeView_GetItem(tree, &data) && name == label) {
                if (sibling != TreeView_GetSelection(tree)) TreeView_SelectItem(tree, sibling);
                break;
            }
        }
        wchar_t status[MAX_PATH] = {}, text[MAX_PATH] = {};
        GetDlgItemTextW(window_, kBrowserStatusId, status, MAX_PATH);
        TVITEMW item = {};
        item.mask = TVIF_TEXT;
        item.hItem = TreeView_GetSelection(tree);
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        if (item.hItem && TreeView_GetItem(tree, &item) && lstrcmpiW(status, path.c_str()) == 0 && name == text) {
            TreeView_EnsureVisible(tree, item.hItem);
            SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(tree), TRUE); // shows the selection
            Print(L"selected folder " + path + L" (\"" + text + L"\" in the tree)");
            return true;
        }
    }
    PrintError(L"the browser did not select " + path);
    return false;
}

bool ScriptedSteps::Shoot(const std::wstring& path) {
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    size_t colours = 0;
    if (!SaveWindowPicture(window_, path, colours)) return false;
    if (colours < kColoursOfAPicture) {
        PrintError(L"picture " + path + L" is blank (" + std::to_wstring(colours) + L" colours)");
        return false;
    }
    Print(L"picture " + path);
    return true;
}

HWND ScriptedSteps::Control(int id) const {
    HWND control = page_ ? GetDlgItem(page_, id) : nullptr;
    return control ? control : (window_ ? GetDlgItem(window_, id) : nullptr);
}

bool ScriptedSteps::Perform(const Step& step) {
    if (step.verb == L"window") return FindWindow(step.argument);
    if (step.verb == L"menu") return FindMenu();
    if (step.verb == L"sleep") {
        for (DWORD slept = 0; slept < static_cast<DWORD>(ControlId(step.argument)) && !RunEnding(); slept += kPollMs) Sleep(kPollMs);
        return true;
    }
    if (!window_ || !IsWindow(window_)) return false;
    if (step.verb == L"page") return SelectPage(ControlId(step.argument));
    if (step.verb == L"shot") return Shoot(step.argument);
    if (step.verb == L"select") return SelectFolder(step.argument);
    if (step.verb == L"select-item") return SelectItem(step.argument);
    if (step.verb == L"close") return CancelWindow(window_);
    HWND control = Control(ControlId(step.argument));
    if (!control) return false;
    if (step.verb == L"click") return PostMessageW(control, BM_CLICK, 0, 0);
    // wait-list
    for (DWORD waited = 0; waited < kListWaitMs && !RunEnding(); waited += kPollMs) {
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
