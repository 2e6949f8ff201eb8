// Kestrune.dll loaded into the test process, with its four exports.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string>

namespace kestrune::testing {

struct DllModule {
    HMODULE module = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* registerServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* unregisterServer)() = nullptr;

    DllModule() {
        module = LoadLibraryW(L"Kestrune.dll"); // copied beside the test executable
        if (!module) return;
        canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(GetProcAddress(module, "DllCanUnloadNow"));
        getClassObject = reinterpret_cast<decltype(getClassObject)>(GetProcAddress(module, "DllGetClassObject"));
        registerServer = reinterpret_cast<decltype(registerServer)>(GetProcAddress(module, "DllRegisterServer"));
        unregisterServer =
            reinterpret_cast<decltype(unregisterServer)>(GetProcAddress(module, "DllUnregisterServer"));
    }
    ~DllModule() {
        if (module) FreeLibrary(module);
    }
    DllModule(const DllModule&) = delete;
    DllModule& operator=(const DllModule&) = delete;

    std::wstring Path() const {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(module, path, MAX_PATH);
        return path;
    }
};

} // namespace kestrune::testing
