// The DLL's entry point and its four exports: a thin layer over the library.
#include <windows.h>
#include <objbase.h>

#include "server/module.h"
#include "server/registration.h"

using namespace kestrune;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        Module().Initialize(instance, LibraryClassTable());
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Only on FreeLibrary: at process exit the system reclaims everything anyway. What calls
        // into other libraries was released by DllCanUnloadNow.
        Module().Shutdown();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() { return CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) { return GetClassObject(rclsid, riid, ppv); }

STDAPI DllRegisterServer() { return RegisterServer(); }

STDAPI DllUnregisterServer() { return UnregisterServer(); }
