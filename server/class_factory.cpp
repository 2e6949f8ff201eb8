#include "server/class_factory.h"

#include <new>

#include "server/interface_table.h"

namespace kestrune {
namespace {
const InterfaceEntry<ClassFactory> factoryRows[] = {
    {&IID_IClassFactory, InterfaceOf<ClassFactory, IClassFactory>},
};
const InterfaceTable<ClassFactory> factoryInterfaces = MakeInterfaceTable(factoryRows);
} // namespace

ClassFactory::ClassFactory(CreateInstanceProc creator) : creator_(creator) {
    InitializeCriticalSection(&cacheLock_);
}

ClassFactory::~ClassFactory() { DeleteCriticalSection(&cacheLock_); }

HRESULT ClassFactory::Create(CreateInstanceProc creator, REFIID riid, void** ppv) {
    auto* factory = new (std::nothrow) ClassFactory(creator);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT result = factory->QueryInterface(riid, ppv);
    if (result != S_OK) delete factory;
    return result;
}

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppv) {
    return LookupInterface(this, factoryInterfaces, riid, ppv);
}

// The table's own reference (1) keeps no module lock; the step to 2 takes one, back to 1 gives it.
ULONG ClassFactory::AddRef() {
    EnterCriticalSection(&cacheLock_);
    LONG count = InterlockedIncrement(&refCount_);
    if (count == 2) Module().Lock();
    LeaveCriticalSection(&cacheLock_);
    return static_cast<ULONG>(count);
}

ULONG ClassFactory::Release() {
    EnterCriticalSection(&cacheLock_);
    LONG count = InterlockedDecrement(&refCount_);
    if (count == 1) Module().Unlock();
    LeaveCriticalSection(&cacheLock_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return creator_(outer, riid, ppv);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
    if (lock)
        Module().Lock();
    else
        Module().Unlock();
    return S_OK;
}

} // namespace kestrune
