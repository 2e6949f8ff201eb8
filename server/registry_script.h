// The interpreter of the registration scripts stored as "REGISTRY" resources: register mode
// writes the described keys (rolling a failing root block back), remove mode takes them away.
#pragma once
#include <windows.h>

#include "server/replacement_map.h"

namespace kestrune {

HRESULT ApplyScriptResource(const wchar_t* scriptFile, UINT resourceId, BOOL doRegister, ReplacementMap& map);
HRESULT RunScript(const wchar_t* text, BOOL doRegister, ReplacementMap& map);

} // namespace kestrune
