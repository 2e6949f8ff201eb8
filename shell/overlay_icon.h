// What both overlay identifiers answer: an icon of the library's own file, and one priority.
// Windows keeps fewer than 15 overlay slots in the system image list, some of them for itself, and
// gives them to the registered identifiers in the order of their key names under
// ShellIconOverlayIdentifiers: where sync clients register theirs with leading spaces, ours may get
// no slot and show nothing. The README says what a user can do about it.
#pragma once
#include <windows.h>

namespace kestrune {

// Writes the library's path into `iconFile` (`chars` characters) with `iconIndex`; a path that
// cannot be read, or would be cut to fit, is a failure with an empty `iconFile`.
HRESULT GetOwnOverlayIcon(int iconIndex, LPWSTR iconFile, int chars, int* index, DWORD* flags);
HRESULT GetOverlayPriority(int* priority);

} // namespace kestrune
