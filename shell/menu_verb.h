// The one command of a single-item menu, as InvokeCommand receives it.
#pragma once
#include <windows.h>

namespace kestrune {

// Only the integer command offset 0 is ours. A verb string is refused whatever its address:
// the whole pointer is examined, so a string at an address whose low 32 bits are zero is a string.
inline bool IsOurOnlyCommand(LPCSTR verb) {
    return IS_INTRESOURCE(verb) && reinterpret_cast<UINT_PTR>(verb) == 0;
}

} // namespace kestrune
