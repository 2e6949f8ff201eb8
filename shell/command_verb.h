// The verb check of every InvokeCommand.
#pragma once
#include <windows.h>

namespace kestrune {

// True when `verb` is the command offset `offset`, not a verb string. The whole pointer counts:
// a string may lie at an address whose low 32 bits are zero, which HIWORD/LOWORD would take for 0.
inline bool IsCommandOffset(LPCSTR verb, UINT_PTR offset) {
    return IS_INTRESOURCE(verb) && reinterpret_cast<UINT_PTR>(verb) == offset;
}

} // namespace kestrune
