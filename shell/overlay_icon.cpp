#include "shell/overlay_icon.h"

#include <shlobj.h>

#include <cwchar>

#include "server/last_error.h"
#include "server/module.h"

namespace kestrune {

HRESULT GetOwnOverlayIcon(int iconIndex, LPWSTR iconFile, int chars, int* index, DWORD* flags) {
    if (!iconFile || !index || !flags) return E_POINTER;
    if (chars <= 0) return E_INVALIDARG;
    iconFile[0] = L'\0';
    // The instance handle is this library's own file, as a lookup by "Kestrune.dll" would give.
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(Module().instance, path, MAX_PATH);
    // An empty or cut path names no icon file, or another one.
    if (length == 0 || length >= MAX_PATH) return LastErrorResult();
    if (length >= static_cast<DWORD>(chars)) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    wmemcpy(iconFile, path, length + 1);
    *index = iconIndex;
    *flags = ISIOI_ICONFILE | ISIOI_ICONINDEX;
    return S_OK;
}

// Zero, as documented for a handler whose overlays never meet each other's items: the shell's own
// rules decide between handlers first.
HRESULT GetOverlayPriority(int* priority) {
    if (!priority) return E_POINTER;
    *priority = 0;
    return S_OK;
}

} // namespace kestrune
