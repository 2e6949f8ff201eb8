#include "server/registration.h"

#include "server/module.h"

namespace kestrune {

HRESULT UpdateRegistryFromResource(UINT, BOOL) { return E_NOTIMPL; }
HRESULT RegisterTypeLibrary() { return E_NOTIMPL; }
HRESULT UnregisterTypeLibrary() { return E_NOTIMPL; }

HRESULT RegisterServer() {
    for (ClassEntry* row = Module().classTable; row && row->clsid; ++row) {
        HRESULT result = row->updateRegistry(TRUE);
        if (FAILED(result)) return result;
    }
    return RegisterTypeLibrary();
}

HRESULT UnregisterServer() {
    for (ClassEntry* row = Module().classTable; row && row->clsid; ++row) row->updateRegistry(FALSE);
    UnregisterTypeLibrary();
    return S_OK;
}

} // namespace kestrune
