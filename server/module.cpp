#include "server/module.h"

#include <new>

namespace kestrune {
namespace {
ServerModule module;
}

ServerModule& Module() { return module; }

void ServerModule::Initialize(HINSTANCE moduleInstance, ClassEntry* table) {
    instance = moduleInstance;
    classTable = table;
    lockCount = 0;
    InitializeCriticalSection(&typeInfoLock);
    InitializeCriticalSection(&classTableLock);
    cleanupList = nullptr;
}

void ServerModule::Shutdown() {
    for (ClassEntry* row = classTable; row && row->clsid; ++row) {
        if (row->classObject) row->classObject->Release();
        row->classObject = nullptr;
    }
    DeleteCriticalSection(&typeInfoLock);
    DeleteCriticalSection(&classTableLock);
    while (cleanupList) {
        TermFunction* node = cleanupList;
        cleanupList = node->next;
        node->function(node->argument);
        delete node;
    }
}

LONG ServerModule::Lock() { return InterlockedIncrement(&lockCount); }

LONG ServerModule::Unlock() { return InterlockedDecrement(&lockCount); }

HRESULT ServerModule::AddCleanup(TermFunctionProc function, DWORD_PTR argument) {
    auto* node = new (std::nothrow) TermFunction{function, argument, nullptr};
    if (!node) return E_OUTOFMEMORY;
    EnterCriticalSection(&typeInfoLock);
    node->next = cleanupList;
    cleanupList = node;
    LeaveCriticalSection(&typeInfoLock);
    return S_OK;
}

HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    HRESULT result = S_OK;
    ServerModule& m = Module();
    for (ClassEntry* row = m.classTable; row && row->clsid; ++row) {
        if (!IsEqualCLSID(*row->clsid, rclsid)) continue;
        // Double-checked: two threads asking at once for one class get one class object.
        if (!row->classObject) {
            EnterCriticalSection(&m.classTableLock);
            if (!row->classObject)
                result = row->createClassObject(row->createInstance, IID_IUnknown,
                                                reinterpret_cast<void**>(&row->classObject));
            LeaveCriticalSection(&m.classTableLock);
        }
        if (row->classObject) result = row->classObject->QueryInterface(riid, ppv);
        break;
    }
    if (!*ppv && result == S_OK) result = CLASS_E_CLASSNOTAVAILABLE;
    return result;
}

HRESULT CanUnloadNow() { return Module().lockCount == 0 ? S_OK : S_FALSE; }

} // namespace kestrune
