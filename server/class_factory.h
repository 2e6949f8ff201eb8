// The class object of every class: made on first request, cached in the class table.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include "server/module.h"

namespace kestrune {

class ClassFactory final : public IClassFactory {
public:
    // The shared createClassObject of the class table.
    static HRESULT Create(CreateInstanceProc creator, REFIID riid, void** ppv);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    explicit ClassFactory(CreateInstanceProc creator);
    ~ClassFactory();

    LONG refCount_ = 0;
    CreateInstanceProc creator_;
    CRITICAL_SECTION cacheLock_;
};

} // namespace kestrune
