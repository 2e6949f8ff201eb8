// The interpreter of the registration scripts stored as "REGISTRY" resources: register mode
// writes the described keys (a failure takes back everything the run wrote), remove mode takes
// them away. A refused registry call fails the run with its Win32 error as an HRESULT.
#pragma once
#include <windows.h>

#include "server/replacement_map.h"

namespace kestrune {

// A script that does not follow the grammar.
inline const HRESULT kMalformedScript = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

HRESULT ApplyScriptResource(const wchar_t* scriptFile, UINT resourceId, BOOL doRegister, ReplacementMap& map);
HRESULT RunScript(const wchar_t* text, BOOL doRegister, ReplacementMap& map);

} // namespace kestrune
