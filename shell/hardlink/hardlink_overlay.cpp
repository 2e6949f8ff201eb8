// The overlay role: files with two or more links carry icon 1 of the library's file.
#include "shell/hardlink/hardlink_object.h"

#include "ntfs/paths.h"
#include "shell/overlay_icon.h"

namespace kestrune {

// One search and one open-query-close of the file; nothing more on Explorer's thread.
HRESULT HardLinkObject::IsMemberOf(LPCWSTR path, DWORD) {
    return path && GetHardLinkCount(path) >= 2 ? S_OK : S_FALSE;
}

HRESULT HardLinkObject::GetOverlayInfo(LPWSTR iconFile, int chars, int* index, DWORD* flags) {
    return GetOwnOverlayIcon(1, iconFile, chars, index, flags);
}

HRESULT HardLinkObject::GetPriority(int* priority) { return GetOverlayPriority(priority); }

} // namespace kestrune
