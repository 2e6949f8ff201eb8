// The menus' items as callers name them: by command offset or by a language-independent ASCII
// verb, with the help text Explorer shows in its status bar. One table for every menu.
#pragma once
#include <windows.h>
#include <shellapi.h> // the CMIC_MASK_ flags are SEE_MASK_ ones
#include <shlobj.h>

namespace kestrune {

// True when `verb` is the command offset `offset`, not a verb string. The whole pointer counts:
// a string may lie at an address whose low 32 bits are zero, which HIWORD/LOWORD would take for 0.
inline bool IsCommandOffset(LPCSTR verb, UINT_PTR offset) {
    return IS_INTRESOURCE(verb) && reinterpret_cast<UINT_PTR>(verb) == offset;
}

enum class MenuCommand { kCreateHardLink, kCreateMount, kMountInformation, kCreateSymbolicLink, kCreateJunction };

struct CommandVerb {
    const char* verb;
    const wchar_t* wideVerb;
    UINT helpText; // string resource
};

extern const CommandVerb kCommandVerbs[5]; // by MenuCommand

// Whether `info` asks for `command`, the menu's item at `offset` (0 for a one-item menu): by offset
// or by verb, the wide one under CMIC_MASK_UNICODE.
bool InvokesCommand(const CMINVOKECOMMANDINFO* info, MenuCommand command, UINT_PTR offset = 0);

// Whether the caller asked for no user interface.
inline bool WantsNoUi(const CMINVOKECOMMANDINFO* info) { return (info->fMask & CMIC_MASK_FLAG_NO_UI) != 0; }

// GetCommandString for item `offset`, where `command` is the item at `ownOffset` (0 for a one-item
// menu): help text, verb or validation.
HRESULT AnswerCommandString(MenuCommand command, UINT_PTR offset, UINT type, CHAR* name, UINT chars,
                            UINT_PTR ownOffset = 0);

} // namespace kestrune
