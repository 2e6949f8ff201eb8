// What both overlay identifiers answer: an icon of the library's own file, and one priority.
#pragma once
#include <windows.h>

namespace kestrune {

// Writes the library's path into `iconFile` (`chars` characters) with `iconIndex`; a path that
// cannot be read, or would be cut to fit, is a failure with an empty `iconFile`.
HRESULT GetOwnOverlayIcon(int iconIndex, LPWSTR iconFile, int chars, int* index, DWORD* flags);
HRESULT GetOverlayPriority(int* priority);

} // namespace kestrune
