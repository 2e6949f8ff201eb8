// The overlay role: junctions to folders carry icon 2 of the library's file; volume mounts do not.
#include "shell/reparsepoint/reparsepoint_object.h"

#include <cwchar>

#include "ntfs/volumes.h"
#include "shell/overlay_icon.h"

namespace kestrune {

HRESULT ReparsePointObject::IsMemberOf(LPCWSTR path, DWORD) {
    if (!path) return S_FALSE;
    // One attribute read: GetReparseTarget fails at once on anything but a reparse point.
    wchar_t target[MAX_PATH];
    if (GetReparseTarget(path, target) != 0) return S_FALSE;
    return wcsncmp(target, L"Volume{", 7) == 0 ? S_FALSE : S_OK;
}

HRESULT ReparsePointObject::GetOverlayInfo(LPWSTR iconFile, int chars, int* index, DWORD* flags) {
    return GetOwnOverlayIcon(2, iconFile, chars, index, flags);
}

HRESULT ReparsePointObject::GetPriority(int* priority) { return GetOverlayPriority(priority); }

} // namespace kestrune
