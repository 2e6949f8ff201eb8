#include "shell/overlay_icon.h"

#include <shlobj.h>

#include "server/module.h"

namespace kestrune {

HRESULT GetLibraryOverlayInfo(int iconIndex, LPWSTR iconFile, int chars, int* index, DWORD* flags) {
    if (!iconFile || !index || !flags) return E_POINTER;
    if (chars <= 0) return E_INVALIDARG;
    wchar_t path[MAX_PATH] = {};
    // The instance handle is this library's own file, as a lookup by "Kestrune.dll" would give.
    GetModuleFileNameW(Module().instance, path, MAX_PATH);
    lstrcpynW(iconFile, path, chars);
    *index = iconIndex;
    *flags = ISIOI_ICONFILE | ISIOI_ICONINDEX;
    return S_OK;
}

HRESULT GetLibraryOverlayPriority(int* priority) {
    if (!priority) return E_POINTER;
    *priority = 10;
    return S_OK;
}

} // namespace kestrune
