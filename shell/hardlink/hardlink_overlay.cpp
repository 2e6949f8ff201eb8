// The overlay role: files with two or more links carry icon 1 of the library's file. Windows keeps
// fewer than 15 overlay slots, some for itself: behind sync clients' identifiers this one may get
// none and show nothing (see overlay_icon.h and the README).
#include "shell/hardlink/hardlink_object.h"

#include "ntfs/overlay_checks.h"
#include "shell/overlay_icon.h"

namespace kestrune {

HRESULT HardLinkObject::IsMemberOf(LPCWSTR path, DWORD attributes) {
    return HasHardLinkOverlay(path, attributes) ? S_OK : S_FALSE;
}

HRESULT HardLinkObject::GetOverlayInfo(LPWSTR iconFile, int chars, int* index, DWORD* flags) {
    return GetOwnOverlayIcon(1, iconFile, chars, index, flags);
}

HRESULT HardLinkObject::GetPriority(int* priority) { return GetOverlayPriority(priority); }

} // namespace kestrune
