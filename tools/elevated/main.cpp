// kestrune-elevated.exe: makes one mount change for Kestrune after the system's elevation prompt
// (the mount manager serves administrators only). Its arguments come from the library, yet are
// checked again here; the exit code is the Win32 error, 0 on success.
#include <windows.h>

#include "ntfs/reparse/elevated_command.h"

int wmain(int argc, wchar_t** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX); // no "insert a disk" boxes for a missing drive
    return static_cast<int>(kestrune::RunElevatedCommand(argc - 1, argv + 1));
}
