#include "server/type_info_holder.h"

#include <new>

#include "server/module.h"

namespace kestrune {

const GUID kKestruneLibraryId = {0x4E19DA74, 0x5A13, 0x4910, {0x8F, 0x75, 0x23, 0x6B, 0x94, 0x65, 0x66, 0x09}};

namespace {

ITypeInfo* LoadedTypeInfo(TypeInfoHolder& holder) {
    return static_cast<ITypeInfo*>(InterlockedCompareExchangePointer(reinterpret_cast<void**>(&holder.typeInfo),
                                                                     nullptr, nullptr));
}

void BuildNameCache(TypeInfoHolder& holder, ITypeInfo* info) {
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return;
    int count = attributes->cFuncs;
    if (count > 0) {
        holder.nameCache = new (std::nothrow) NameCacheEntry[count]();
        holder.nameCount = holder.nameCache ? count : 0;
    }
    for (int index = 0; index < holder.nameCount; ++index) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(index, &function))) continue;
        BSTR name = nullptr;
        if (SUCCEEDED(info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr))) {
            holder.nameCache[index].name = name;
            holder.nameCache[index].length = SysStringLen(name);
            holder.nameCache[index].dispid = function->memid;
        }
        info->ReleaseFuncDesc(function);
    }
    info->ReleaseTypeAttr(attributes);
}

} // namespace

HRESULT TypeInfoHolder::Load(LCID lcid) {
    if (LoadedTypeInfo(*this)) return S_OK;
    ServerModule& m = Module();
    EnterCriticalSection(&m.typeInfoLock);
    HRESULT result = E_FAIL;
    if (!typeInfo) {
        ITypeLib* library = nullptr;
        result = LoadRegTypeLib(*libraryId, majorVersion, minorVersion, lcid, &library);
        if (SUCCEEDED(result)) {
            ITypeInfo* info = nullptr;
            result = library->GetTypeInfoOfGuid(*interfaceId, &info);
            if (SUCCEEDED(result)) {
                ITypeInfo* kept = info;
                ITypeInfo2* info2 = nullptr;
                if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&info2)))) {
                    kept = info2;
                    info->Release();
                }
                BuildNameCache(*this, kept);
                // Published last: a reader that sees the pointer also sees the cache.
                InterlockedExchangePointer(reinterpret_cast<void**>(&typeInfo), kept);
            }
            library->Release();
        }
    } else {
        result = S_OK;
    }
    LeaveCriticalSection(&m.typeInfoLock);
    // One clean-up per holder is enough, however often a load fails and is retried.
    if (InterlockedCompareExchange(&cleanupRegistered, 1, 0) == 0 &&
        FAILED(m.AddCleanup(&TypeInfoHolder::Cleanup, reinterpret_cast<DWORD_PTR>(this))))
        InterlockedExchange(&cleanupRegistered, 0);
    return result;
}

HRESULT TypeInfoHolder::GetTypeInfo(UINT, LCID lcid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    HRESULT result = Load(lcid);
    *info = LoadedTypeInfo(*this);
    if (!*info) return FAILED(result) ? result : E_FAIL;
    (*info)->AddRef();
    return S_OK;
}

// The first name is the member's, the rest name its parameters. Automation compares member names
// without regard to case; the cache answers a lone member name, anything else the type
// information, which also knows the parameters.
HRESULT TypeInfoHolder::GetIDsOfNames(LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
    HRESULT result = Load(lcid);
    ITypeInfo* info = LoadedTypeInfo(*this);
    if (!info) return FAILED(result) ? result : E_FAIL;
    if (!names || !ids) return E_INVALIDARG;
    if (count == 1 && names[0]) {
        int length = lstrlenW(names[0]);
        for (int entry = nameCount - 1; entry >= 0; --entry) {
            const NameCacheEntry& cached = nameCache[entry];
            if (cached.name && cached.length == static_cast<UINT>(length) &&
                CompareStringOrdinal(cached.name, length, names[0], length, TRUE) == CSTR_EQUAL) {
                ids[0] = cached.dispid;
                return S_OK;
            }
        }
    }
    return info->GetIDsOfNames(names, count, ids);
}

HRESULT TypeInfoHolder::Invoke(IDispatch* self, DISPID member, LCID lcid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    HRESULT loaded = Load(lcid);
    ITypeInfo* info = LoadedTypeInfo(*this);
    if (!info) return FAILED(loaded) ? loaded : E_FAIL;
    return info->Invoke(self, member, flags, params, result, exception, argumentError);
}

void TypeInfoHolder::Cleanup(DWORD_PTR argument) {
    auto* holder = reinterpret_cast<TypeInfoHolder*>(argument);
    if (holder->typeInfo) holder->typeInfo->Release();
    holder->typeInfo = nullptr;
    for (int i = 0; i < holder->nameCount; ++i) SysFreeString(holder->nameCache[i].name);
    delete[] holder->nameCache;
    holder->nameCache = nullptr;
    holder->nameCount = 0;
    holder->cleanupRegistered = 0;
}

} // namespace kestrune
