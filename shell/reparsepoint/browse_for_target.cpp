#include "shell/reparsepoint/browse_for_target.h"

#include <shlobj.h>

#include "ntfs/paths.h"

namespace kestrune {
namespace {

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM item, LPARAM initial) {
    if (message == BFFM_INITIALIZED) {
        const auto* path = reinterpret_cast<const wchar_t*>(initial);
        if (path && IsExistingFolder(path)) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, initial);
    } else if (message == BFFM_SELCHANGED) {
        // A selection without a file-system path (the desktop, a printer) shows an empty line.
        wchar_t path[MAX_PATH] = {};
        if (!SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(item), path)) path[0] = L'\0';
        SendMessageW(browser, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}

} // namespace

int BrowseForTarget(HWND owner, wchar_t (&path)[MAX_PATH], const wchar_t* title, const wchar_t* initial) {
    IMalloc* malloc = nullptr;
    if (FAILED(SHGetMalloc(&malloc)) || !malloc) return 0;
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(initial);
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    int result = 0;
    if (chosen) {
        result = SHGetPathFromIDListW(chosen, path) ? 1 : 0;
        malloc->Free(chosen);
    }
    malloc->Release();
    return result;
}

} // namespace kestrune
