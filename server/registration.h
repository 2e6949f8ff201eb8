// Self-registration: the classes' registry scripts and the type library.
#pragma once
#include <windows.h>

namespace kestrune {

HRESULT RegisterServer();
HRESULT UnregisterServer();
HRESULT UpdateRegistryFromResource(UINT resourceId, BOOL doRegister);
HRESULT RegisterTypeLibrary();
HRESULT UnregisterTypeLibrary();

} // namespace kestrune
