// Type information of one dual interface, loaded from the registered type library on first use,
// with a cache of member names, and released at unload.
#pragma once
#include <windows.h>
#include <oaidl.h>

namespace kestrune {

struct NameCacheEntry {
    BSTR name;
    UINT length;
    DISPID dispid;
};

struct TypeInfoHolder {
    const GUID* interfaceId;
    const GUID* libraryId;
    WORD majorVersion;
    WORD minorVersion;
    ITypeInfo* typeInfo;
    NameCacheEntry* nameCache;
    int nameCount;
    LONG cleanupRegistered;

    HRESULT Load(LCID lcid);
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info);
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids);
    HRESULT Invoke(IDispatch* self, DISPID member, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argumentError);
    static void Cleanup(DWORD_PTR holder);
};

extern const GUID kKestruneLibraryId;

} // namespace kestrune
