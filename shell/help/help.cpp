// The HTML Help control is not linked at load time: it is loaded at the first help request,
// found by ordinal, and kept for the life of the process.
#include "shell/help/help.h"

#include <htmlhelp.h>

#include <atomic>
#include <cwchar>

#include "ntfs/paths.h"
#include "server/module.h"
#include "shell/bounded_text.h"
#include "shell/ui_language.h"

namespace kestrune {
namespace {

using HtmlHelpProc = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

const wchar_t kHelpControlKey[] = L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
const wchar_t kHelpControlName[] = L"hhctrl.ocx";
constexpr WORD kHtmlHelpWOrdinal = 15;

// Moves only from empty to set: two first requests at once at worst load the control twice.
std::atomic<HMODULE> helpLibrary{nullptr};
std::atomic<HtmlHelpProc> helpEntry{nullptr};
std::atomic<bool> helpFailed{false};

bool IsAbsolutePath(const wchar_t* path) {
    bool drive = path[0] != L'\0' && path[1] == L':' && path[2] == L'\\';
    return drive || (path[0] == L'\\' && path[1] == L'\\');
}

// A control by its full path. Its own imports come from its folder and the system folder only,
// never from the host's or the current folder (the standard search begins in the host's folder);
// Windows 7 without the search-flag update refuses the flags, and there the control's folder leads.
HMODULE LoadControlAt(const wchar_t* path) {
    HMODULE library = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library && GetLastError() == ERROR_INVALID_PARAMETER)
        library = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return library;
}

// The control where Windows registers it: REG_EXPAND_SZ (%SystemRoot%\...) or REG_SZ, with or
// without a terminator. A relative name is refused: it would be looked for in the host's folder.
HMODULE LoadRegisteredControl() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kHelpControlKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    wchar_t value[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD bytes = MAX_PATH * sizeof(wchar_t); // the last character stays a terminator
    LONG status = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return nullptr;
    if (wcslen(value) >= MAX_PATH) return nullptr;
    wchar_t path[MAX_PATH];
    if (type == REG_EXPAND_SZ) {
        DWORD length = ExpandEnvironmentStringsW(value, path, MAX_PATH);
        if (length == 0 || length > MAX_PATH) return nullptr;
    } else {
        wcscpy(path, value);
    }
    return IsAbsolutePath(path) ? LoadControlAt(path) : nullptr;
}

// The bare name only from the system folder, never from the host's or the current folder.
HMODULE LoadSystemControl() {
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    wchar_t path[MAX_PATH];
    BoundedText text(path, MAX_PATH);
    text.AppendFolder(system).Append(kHelpControlName);
    return text.Fits() ? LoadControlAt(path) : nullptr;
}

HtmlHelpProc HelpEntry() {
    HtmlHelpProc entry = helpEntry.load(std::memory_order_acquire);
    if (entry || helpFailed.load(std::memory_order_acquire)) return entry;
    HMODULE library = helpLibrary.load(std::memory_order_acquire);
    if (!library) {
        library = LoadRegisteredControl();
        if (!library) library = LoadSystemControl();
        if (!library) {
            helpFailed.store(true, std::memory_order_release);
            return nullptr;
        }
        helpLibrary.store(library, std::memory_order_release);
    }
    entry = reinterpret_cast<HtmlHelpProc>(GetProcAddress(library, MAKEINTRESOURCEA(kHtmlHelpWOrdinal)));
    if (!entry) {
        helpFailed.store(true, std::memory_order_release);
        return nullptr;
    }
    helpEntry.store(entry, std::memory_order_release);
    return entry;
}

} // namespace

HWND CallHtmlHelp(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data) {
    HtmlHelpProc entry = HelpEntry();
    return entry ? entry(caller, file, command, data) : nullptr;
}

void ShowHelpPopup(HWND dialog, UINT stringId) {
    // The text itself, not the string's ID: the control would load that in the thread's language.
    UiText text(stringId);
    HH_POPUP popup = {};
    popup.cbStruct = sizeof popup;
    popup.pszText = text;
    GetCursorPos(&popup.pt); // at the mouse, not at the control
    popup.clrForeground = static_cast<COLORREF>(-1);
    popup.clrBackground = static_cast<COLORREF>(-1);
    popup.rcMargins = RECT{-1, -1, -1, -1};
    CallHtmlHelp(dialog, nullptr, HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup));
}

void ShowHelpFile() {
    // The instance handle is this library's own file, whatever name it was loaded under.
    wchar_t module[MAX_PATH];
    DWORD length = GetModuleFileNameW(Module().instance, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    wchar_t drive[kDrivePartChars], dir[kPathPartChars];
    SplitPath(module, drive, dir, nullptr, nullptr);
    wchar_t path[MAX_PATH];
    BoundedText text(path, MAX_PATH);
    text.Append(drive).Append(dir).Append(UiText(kManualFileText));
    if (text.Fits()) CallHtmlHelp(nullptr, path, HH_DISPLAY_TOC, 0);
}

} // namespace kestrune
