// The overlay role: junctions to folders carry icon 2 of the library's file; volume mounts do not.
// Windows keeps fewer than 15 overlay slots, some for itself: behind sync clients' identifiers this
// one may get none and show nothing (see overlay_icon.h and the README).
#include "shell/reparsepoint/reparsepoint_object.h"

#include "ntfs/overlay_checks.h"
#include "shell/overlay_icon.h"

namespace kestrune {

HRESULT ReparsePointObject::IsMemberOf(LPCWSTR path, DWORD attributes) {
    return HasJunctionOverlay(path, attributes) ? S_OK : S_FALSE;
}

HRESULT ReparsePointObject::GetOverlayInfo(LPWSTR iconFile, int chars, int* index, DWORD* flags) {
    return GetOwnOverlayIcon(2, iconFile, chars, index, flags);
}

HRESULT ReparsePointObject::GetPriority(int* priority) { return GetOverlayPriority(priority); }

} // namespace kestrune
