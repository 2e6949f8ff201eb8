#include "server/registration.h"

#include <oleauto.h>
#include <olectl.h>

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

namespace {

// What DllRegisterServer and DllUnregisterServer report for a class script or the type library
// that failed: the documented code of that part, or the lack of memory as such.
HRESULT PartFailure(HRESULT result, HRESULT part) { return result == E_OUTOFMEMORY ? result : part; }

} // namespace

// All or nothing: a failure takes back what this run registered, so an old registration is never
// left standing under a success.
HRESULT RegisterServer() {
    ClassEntry* table = Module().classTable;
    ClassEntry* row = table;
    HRESULT result = S_OK;
    for (; row && row->clsid && SUCCEEDED(result); ++row) result = row->updateRegistry(TRUE);
    if (FAILED(result)) {
        result = PartFailure(result, SELFREG_E_CLASS);
        --row; // the failing script has already taken back its own keys
    } else if (FAILED(result = RegisterTypeLibrary())) {
        result = PartFailure(result, SELFREG_E_TYPELIB);
    } else {
        return S_OK;
    }
    for (ClassEntry* done = table; done != row; ++done) done->updateRegistry(FALSE);
    return result;
}

// Every class is unregistered even when one fails; the first failure is reported.
HRESULT UnregisterServer() {
    HRESULT result = S_OK;
    for (ClassEntry* row = Module().classTable; row && row->clsid; ++row) {
        HRESULT removed = row->updateRegistry(FALSE);
        if (FAILED(removed) && SUCCEEDED(result)) result = PartFailure(removed, SELFREG_E_CLASS);
    }
    UnregisterTypeLibrary();
    return result;
}

} // namespace kestrune
