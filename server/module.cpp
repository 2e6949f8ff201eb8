#include "server/module.h"

#include <new>

namespace kestrune {
namespace {
ServerModule module;

IUnknown* CachedClassObject(ClassEntry& row) {
    return static_cast<IUnknown*>(
        InterlockedCompareExchangePointer(reinterpret_cast<void**>(&row.classObject), nullptr, nullptr));
}
} // namespace

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
}

void ServerModule::RunCleanups() {
    EnterCriticalSection(&typeInfoLock);
    while (cleanupList) {
        TermFunction* node = cleanupList;
        cleanupList = node->next;
        node->function(node->argument);
        delete node;
    }
    LeaveCriticalSection(&typeInfoLock);
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
        // Double-checked: two threads asking at once for one class get one class object. The
        // unlocked read is an interlocked one, so it never sees a half-published pointer.
        if (!CachedClassObject(*row)) {
            EnterCriticalSection(&m.classTableLock);
            if (!row->classObject) {
                IUnknown* made = nullptr;
                result = row->createClassObject(row->createInstance, IID_IUnknown, reinterpret_cast<void**>(&made));
                if (SUCCEEDED(result)) InterlockedExchangePointer(reinterpret_cast<void**>(&row->classObject), made);
            }
            LeaveCriticalSection(&m.classTableLock);
        }
        if (IUnknown* cached = CachedClassObject(*row)) result = cached->QueryInterface(riid, ppv);
        break;
    }
    if (!*ppv && result == S_OK) result = CLASS_E_CLASSNOTAVAILABLE;
    return result;
}

// The clean-ups call into other libraries (oleaut32 behind the type information), which the
// loader lock of DllMain forbids: they run here, once nothing of the library is in use.
HRESULT CanUnloadNow() {
    ServerModule& m = Module();
    if (InterlockedCompareExchange(&m.lockCount, 0, 0) != 0) return S_FALSE;
    m.RunCleanups();
    return S_OK;
}

} // namespace kestrune
