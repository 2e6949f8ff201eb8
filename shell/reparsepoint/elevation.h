// One mount change run elevated: the helper beside the DLL, started through the system's
// elevation prompt. The launch is a table of its own so that the tests can run the helper's
// command in their process instead.
#pragma once
#include <windows.h>

#include "ntfs/reparse/elevated_command.h"

namespace kestrune {

struct ElevationApi {
    // Starts `program` with `parameters` elevated and waits for it: its exit code (a Win32 error),
    // ERROR_CANCELLED when the user declines the prompt, or the launch's own error.
    DWORD (*RunElevated)(HWND owner, const wchar_t* program, const wchar_t* parameters);
};

// The table in force, and the one bound to the system.
const ElevationApi& Elevation();
const ElevationApi& SystemElevation();
// Installs `api` (null restores the system's) and returns the previous one.
const ElevationApi* ReplaceElevationApi(const ElevationApi* api);

// Runs one operation on `folder` through the helper beside this module; the result as above.
DWORD RunElevatedOperation(HWND owner, ElevatedOperation operation, const wchar_t* folder, const wchar_t* argument);

} // namespace kestrune
