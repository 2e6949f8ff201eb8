#include "server/registration.h"

#include <oleauto.h>

#include <cwchar>

#include "server/last_error.h"
#include "server/module.h"
#include "server/registry_script.h"

namespace kestrune {
namespace {

constexpr DWORD kTypeLibraryPathChars = 270; // room to write ".tlb" over the extension

// The library's own type library (resource "TYPELIB" 1), or a ".tlb" file of the same name.
struct LoadedTypeLibrary {
    ITypeLib* library = nullptr;
    BSTR path = nullptr;
    HRESULT result = E_FAIL;

    LoadedTypeLibrary() {
        wchar_t file[kTypeLibraryPathChars] = {};
        DWORD length = GetModuleFileNameW(Module().instance, file, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            result = LastErrorResult();
            return;
        }
        result = LoadTypeLib(file, &library);
        if (FAILED(result)) {
            wchar_t* dot = wcsrchr(file, L'.');
            wcscpy(dot ? dot : file + length, L".tlb");
            result = LoadTypeLib(file, &library);
            if (FAILED(result)) return;
        }
        path = SysAllocString(file);
        if (!path) result = E_OUTOFMEMORY;
    }
    ~LoadedTypeLibrary() {
        if (library) library->Release();
        SysFreeString(path);
    }
    LoadedTypeLibrary(const LoadedTypeLibrary&) = delete;
    LoadedTypeLibrary& operator=(const LoadedTypeLibrary&) = delete;
};

} // namespace

HRESULT UpdateRegistryFromResource(UINT resourceId, BOOL doRegister) {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(Module().instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return LastErrorResult();
    // The path goes into a quoted script value: each quote is doubled there.
    wchar_t quoted[2 * MAX_PATH + 1];
    size_t out = 0;
    for (const wchar_t* c = path; *c; ++c) {
        quoted[out++] = *c;
        if (*c == L'\'') quoted[out++] = L'\'';
    }
    quoted[out] = L'\0';
    ReplacementMap map;
    HRESULT result = map.Add(L"Module", quoted);
    if (SUCCEEDED(result)) result = ApplyScriptResource(path, resourceId, doRegister, map);
    map.Clear();
    return result;
}

HRESULT RegisterTypeLibrary() {
    LoadedTypeLibrary loaded;
    if (FAILED(loaded.result)) return loaded.result;
    wchar_t helpDirectory[MAX_PATH] = {};
    wcsncpy(helpDirectory, loaded.path, MAX_PATH - 1);
    wchar_t* cut = helpDirectory;
    for (wchar_t* c = helpDirectory; *c; ++c)
        if (*c == L'\\' || *c == L'/' || *c == L':') cut = c + 1;
    *cut = L'\0';
    return RegisterTypeLib(loaded.library, loaded.path, helpDirectory);
}

HRESULT UnregisterTypeLibrary() {
    LoadedTypeLibrary loaded;
    if (FAILED(loaded.result)) return loaded.result;
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(loaded.library->GetLibAttr(&attributes))) {
        using UnRegisterProc = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
        if (HMODULE automation = LoadLibraryW(L"oleaut32.dll")) {
            auto unregister = reinterpret_cast<UnRegisterProc>(GetProcAddress(automation, "UnRegisterTypeLib"));
            if (unregister)
                unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                           attributes->syskind);
            FreeLibrary(automation);
        }
        loaded.library->ReleaseTLibAttr(attributes);
    }
    return loaded.result;
}

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
