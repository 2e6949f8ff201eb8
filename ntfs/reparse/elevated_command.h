// The one mount change the elevated helper (kestrune-elevated.exe) makes for a user whose own token
// is refused it: its command line, written by the library and checked again by the helper.
#pragma once
#include <windows.h>

namespace kestrune {

// ReplaceMount changes a mount as a whole, so that one prompt serves it: a junction's target in
// place, else the old mount removed and the new one set, the old record put back when that fails.
enum class ElevatedOperation { SetVolumeMount, DeleteVolumeMount, SetJunction, DeleteJunction, ReplaceMount };

// The helper's name, beside the DLL.
constexpr wchar_t kElevatedHelperName[] = L"kestrune-elevated.exe";

// `operation "\\?\folder" ["\\?\volume-or-target"]`: every path gets "\\?\" where it lacks it;
// `argument` is the volume name ("\\?\Volume{...}\" or "Volume{...}\") or the junction's target,
// null for a removal. False, and `out` left empty, when it does not fit `chars` characters.
bool FormatElevatedCommand(ElevatedOperation operation, const wchar_t* folder, const wchar_t* argument, wchar_t* out,
                           size_t chars);

// Checks the helper's arguments (the operation first) and makes the change; returns the Win32
// error, 0 on success. The folder must be "\\?\X:\..." and exist: an empty folder to set, a
// volume mount or a junction to delete as named, a mount of either kind to replace; a volume name
// must be "\\?\Volume{GUID}\", a junction's target an existing folder "\\?\X:\...".
DWORD RunElevatedCommand(int argc, const wchar_t* const* argv);

} // namespace kestrune
