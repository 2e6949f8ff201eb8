// drop and menu: the right-drag menu of a file dropped on a folder, and a folder's context
// menu, each built from the installed handlers as Explorer builds them, then one item run.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tools/try/commands.h"
#include "tools/try/console.h"
#include "tools/try/handlers.h"
#include "tools/try/registry_key.h"
#include "tools/try/shell_items.h"

namespace kestrune::trying {
namespace {

constexpr UINT kFirstCommand = 1;
constexpr UINT kLastCommand = 0x7FFF;
constexpr UINT kCancelCommand = kLastCommand + 1;

struct LoadedHandler {
    Handler handler;
    ComPtr<IContextMenu> menu;
    UINT first = 0;
    UINT count = 0;
};

struct MenuItem {
    UINT id;
    std::wstring text;
};

class PopupMenu {
public:
    PopupMenu() : menu_(CreatePopupMenu()) {}
    ~PopupMenu() {
        if (menu_) DestroyMenu(menu_);
    }
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;
    HMENU Get() const { return menu_; }

    std::vector<MenuItem> Items() const {
        std::vector<MenuItem> items;
        int count = GetMenuItemCount(menu_);
        for (int index = 0; index < count; ++index) {
            wchar_t text[256] = {};
            MENUITEMINFOW info = {};
            info.cbSize = sizeof info;
            info.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE | MIIM_SUBMENU;
            info.dwTypeData = text;
            info.cch = 256;
            if (!GetMenuItemInfoW(menu_, index, TRUE, &info) || (info.fType & MFT_SEPARATOR)) continue;
            items.push_back({info.hSubMenu ? 0 : info.wID, text});
        }
        return items;
    }

private:
    HMENU menu_;
};

std::wstring WithoutAccelerator(const std::wstring& text) {
    std::wstring plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;
        plain += text[i];
    }
    return plain;
}

int LinkCount(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION information = {};
    int count = GetFileInformationByHandle(file, &information) ? static_cast<int>(information.nNumberOfLinks) : -1;
    CloseHandle(file);
    return count;
}

// Asks each handler for its items, as Explorer does: initialise, then QueryContextMenu with a
// range of command identifiers of its own.
std::vector<LoadedHandler> FillMenu(HMENU menu, const std::vector<Handler>& handlers, PCIDLIST_ABSOLUTE folder,
                                    IDataObject* data, HKEY classKey) {
    std::vector<LoadedHandler> loaded;
    UINT next = kFirstCommand;
    for (const Handler& handler : handlers) {
        LoadedHandler entry;
        entry.handler = handler;
        ComPtr<IShellExtInit> init;
        HRESULT result = CreateHandler(handler, init);
        if (SUCCEEDED(result)) result = init->Initialize(folder, data, classKey);
        if (SUCCEEDED(result)) result = init.As(entry.menu);
        if (SUCCEEDED(result))
            result = entry.menu->QueryContextMenu(menu, GetMenuItemCount(menu), next, kLastCommand, CMF_NORMAL);
        if (FAILED(result)) {
            Print(L"handler " + Describe(handler) + L": " + ResultText(result) + L", no items");
            continue;
        }
        entry.first = next;
        entry.count = HRESULT_CODE(result);
        next += entry.count;
        Print(L"handler " + Describe(handler) + L": " + std::to_wstring(entry.count) + L" item(s)");
        loaded.push_back(std::move(entry));
    }
    return loaded;
}

UINT Choose(const std::vector<MenuItem>& items, const Options& options, HMENU menu) {
    if (options.pick.empty()) {
        POINT at = {};
        GetCursorPos(&at);
        SetForegroundWindow(options.owner);
        UINT chosen = TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, options.owner, nullptr);
        PostMessageW(options.owner, WM_NULL, 0, 0);
        return chosen;
    }
    int number = _wtoi(options.pick.c_str());
    for (size_t index = 0; index < items.size(); ++index) {
        bool byNumber = number > 0 && static_cast<size_t>(number) == index + 1 && items[index].id != kCancelCommand;
        bool byText = items[index].text == options.pick || WithoutAccelerator(items[index].text) == options.pick;
        if ((byNumber || byText) && items[index].id) return items[index].id;
    }
    if (options.pick == L"0") return kCancelCommand;
    PrintError(L"--pick " + options.pick + L": no such item in this menu (pick a number shown above, 0 to cancel, or an item's text)");
    return 0;
}

// The shell cannot even name the item: a reason the handlers would refuse it for (a path too long)
// makes that "nothing to offer", anything else a failure.
int CannotSelect(const std::wstring& what, HRESULT result, const std::wstring& why) {
    PrintError(what + L": " + ResultText(result));
    if (why.empty()) return kFailed;
    PrintError(L"nothing to offer here: " + why);
    return kNothingOffered;
}

// Shows the menu (or takes the picked item) and runs the chosen item; `ran` tells whether an item
// of a handler ran. `whyNothing` is printed when the handlers offer nothing.
int RunMenu(const Options& options, const std::vector<Handler>& handlers, PCIDLIST_ABSOLUTE folder, IDataObject* data,
            const std::wstring& classKeyName, const std::wstring& whyNothing, bool& ran) {
    ran = false;
    if (handlers.empty()) {
        PrintError(L"nothing to offer here: no handler is registered under HKEY_CLASSES_ROOT\\" + classKeyName + L"\\shellex");
        return kNothingOffered;
    }
    PopupMenu menu;
    RegistryKey classKey(HKEY_CLASSES_ROOT, classKeyName);
    std::vector<LoadedHandler> loaded = FillMenu(menu.Get(), handlers, folder, data, classKey.Get());
    bool offered = GetMenuItemCount(menu.Get()) > 0;
    AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    // Explorer's own item, in the user's interface language as the handlers' items are.
    bool japanese = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
    AppendMenuW(menu.Get(), MF_STRING, kCancelCommand, japanese ? L"キャンセル" : L"Cancel");
    std::vector<MenuItem> items = menu.Items();
    for (size_t index = 0; index < items.size(); ++index)
        Print(L"  " + std::to_wstring(items[index].id == kCancelCommand ? 0 : index + 1) + L"  " + items[index].text);
    if (!offered) {
        PrintError(L"nothing to offer here: " + (whyNothing.empty() ? L"the handlers give no reason" : whyNothing));
        return kNothingOffered;
    }
    UINT chosen = Choose(items, options, menu.Get());
    if (chosen == 0 && !options.pick.empty()) return kUsage;
    if (chosen == 0 || chosen == kCancelCommand) {
        Print(L"cancelled");
        return kDone;
    }
    size_t number = 0;
    while (number < items.size() && items[number].id != chosen) ++number;
    for (LoadedHandler& entry : loaded) {
        if (chosen < entry.first || chosen >= entry.first + entry.count) continue;
        UINT offset = chosen - entry.first;
        CMINVOKECOMMANDINFOEX info = {};
        info.cbSize = sizeof info;
        info.fMask = CMIC_MASK_UNICODE;
        info.hwnd = options.owner;
        info.lpVerb = MAKEINTRESOURCEA(offset);
        info.lpVerbW = MAKEINTRESOURCEW(offset);
        info.nShow = SW_SHOWNORMAL;
        HRESULT result = entry.menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
        ran = SUCCEEDED(result);
        Print(L"ran " + std::to_wstring(number + 1) + L"  " + (number < items.size() ? items[number].text : L"") + L" (" +
              Describe(entry.handler) + L"): " + ResultText(result));
        return SUCCEEDED(result) ? kDone : kFailed;
    }
    return kFailed;
}

} // namespace

// The drop handler makes its links on a worker that holds the library: this process waits for it
// to let go (pumping, as the shell's notices come to this thread) before it counts or ends.
void WaitForHandlerWorkers() {
    HMODULE library = GetModuleHandleW(L"Kestrune.dll");
    auto canUnload = library ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(library, "DllCanUnloadNow")) : nullptr;
    for (int i = 0; canUnload && i < 6000 && canUnload() != S_OK; ++i) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(10);
    }
}

int DropCommand(const Options& options, const std::wstring& file, const std::wstring& folder) {
    ShellItem dragged(file), target(folder);
    ComPtr<IDataObject> data;
    HRESULT result = FAILED(dragged.Result()) ? dragged.Result() : target.Result();
    if (SUCCEEDED(result)) result = dragged.DataObject(data);
    if (FAILED(result)) return CannotSelect(L"cannot drop " + file + L" on " + folder, result, WhyNoDropOffer(file, folder));
    DWORD targetAttributes = GetFileAttributesW(target.Path().c_str());
    if (targetAttributes != INVALID_FILE_ATTRIBUTES && !(targetAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        PrintError(L"nothing to offer here: " + target.Path() + L" is not a folder: a file is dropped on a folder or a drive");
        return kNothingOffered;
    }
    std::vector<std::wstring> keys = target.ClassKeys();
    Print(L"right-drag of " + dragged.Path() + L" onto " + target.Path() + L":");
    int before = LinkCount(dragged.Path());
    bool ran = false;
    int code = RunMenu(options, ReadHandlers(keys, L"DragDropHandlers"), target.List(), data.Get(), keys[0],
                       WhyNoDropOffer(dragged.Path(), target.Path()), ran);
    if (ran) WaitForHandlerWorkers();
    int after = LinkCount(dragged.Path());
    if (code != kDone || before < 0) return code;
    Print(L"links of " + dragged.Path() + L": " + std::to_wstring(before) + L" before, " + std::to_wstring(after) + L" after");
    if (ran && after <= before) {
        PrintError(L"the handler said done, but no new link of " + dragged.Path() + L" was made");
        return kFailed;
    }
    return code;
}

int MenuCommand(const Options& options, const std::wstring& folder) {
    ShellItem item(folder);
    ComPtr<IDataObject> data;
    HRESULT result = item.Result();
    if (SUCCEEDED(result)) result = item.DataObject(data);
    if (FAILED(result)) return CannotSelect(L"cannot select " + folder, result, WhyNoMenuOffer(folder));
    std::vector<std::wstring> keys = item.ClassKeys();
    Print(L"context menu of " + item.Path() + L":");
    bool ran = false;
    return RunMenu(options, ReadHandlers(keys, L"ContextMenuHandlers"), item.Parent(), data.Get(), keys[0],
                   WhyNoMenuOffer(item.Path()), ran);
}

} // namespace kestrune::trying
