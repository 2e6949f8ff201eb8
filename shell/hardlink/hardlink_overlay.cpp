// The overlay role: files with two or more links carry icon 1 of the library's file.
#include "shell/hardlink/hardlink_object.h"

#include "ntfs/paths.h"
#include "server/module.h"

namespace kestrune {

// One search and one open-query-close of the file; nothing more on Explorer's thread.
HRESULT HardLinkObject::IsMemberOf(LPCWSTR path, DWORD) {
    return path && GetHardLinkCount(path) >= 2 ? S_OK : S_FALSE;
}

HRESULT HardLinkObject::GetOverlayInfo(LPWSTR iconFile, int chars, int* index, DWORD* flags) {
    if (!iconFile || !index || !flags) return E_POINTER;
    if (chars <= 0) return E_INVALIDARG;
    wchar_t path[MAX_PATH] = {};
    // The instance handle is this library's own file, as a lookup by "Kestrune.dll" would give.
    GetModuleFileNameW(Module().instance, path, MAX_PATH);
    lstrcpynW(iconFile, path, chars);
    *index = 1;
    *flags = ISIOI_ICONFILE | ISIOI_ICONINDEX;
    return S_OK;
}

HRESULT HardLinkObject::GetPriority(int* priority) {
    if (!priority) return E_POINTER;
    *priority = 10;
    return S_OK;
}

} // namespace kestrune
