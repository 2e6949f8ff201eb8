// The overlay icons of the library's own file, shared by the overlay identifiers.
#pragma once
#include <windows.h>

namespace kestrune {

// The library's file and icon `iconIndex`, at most `chars` characters of the path written.
HRESULT GetLibraryOverlayInfo(int iconIndex, LPWSTR iconFile, int chars, int* index, DWORD* flags);

// Both overlays share one priority.
HRESULT GetLibraryOverlayPriority(int* priority);

} // namespace kestrune
