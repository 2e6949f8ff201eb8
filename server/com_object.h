// The two forms of a class instance, standalone and aggregated, with their reference counts
// and the module lock each holds. T implements its interfaces and its own state, and names
// its interface table as T::interfaces.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <new>

#include "server/interface_table.h"
#include "server/module.h"

namespace kestrune {

// The count and module lock shared by both forms: construction takes a module lock (in Make),
// destruction sets the count to 1 so that a stray AddRef and Release during the class's
// tear-down cannot destroy twice, runs the tear-down, and only then gives the lock back: until
// the last of the class's code has run, DllCanUnloadNow must not let the library go.
template <typename Object> class LockedLifetime {
protected:
    template <typename... Arguments> static HRESULT Make(REFIID riid, void** ppv, Arguments... arguments) {
        auto* object = new (std::nothrow) Object(arguments...);
        if (!object) return E_OUTOFMEMORY;
        Module().Lock();
        HRESULT result = object->QueryInterface(riid, ppv);
        if (result != S_OK) object->Destroy();
        return result;
    }
    ULONG Increment() { return static_cast<ULONG>(++refCount_); }
    ULONG Decrement() {
        LONG count = --refCount_;
        if (count == 0) Destroy();
        return static_cast<ULONG>(count);
    }

private:
    void Destroy() {
        refCount_ = 1;
        delete static_cast<Object*>(this);
        Module().Unlock();
    }
    LONG refCount_ = 0;
};

template <typename T> class StandaloneObject final : public T, private LockedLifetime<StandaloneObject<T>> {
    using Lifetime = LockedLifetime<StandaloneObject<T>>;
    friend Lifetime;

public:
    static HRESULT Create(REFIID riid, void** ppv) { return Lifetime::Make(riid, ppv); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return LookupInterface<T>(this, T::interfaces, riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return Lifetime::Increment(); }
    STDMETHODIMP_(ULONG) Release() override { return Lifetime::Decrement(); }

private:
    StandaloneObject() = default;
    ~StandaloneObject() = default;
};

// The instance inside an aggregate: its IUnknown belongs to the outer object.
template <typename T> class ContainedObject final : public T {
public:
    explicit ContainedObject(IUnknown* outer) : outer_(outer) {}

    // The outer object alone decides which interfaces the aggregate has, and which of ours it
    // shows; an interface it does not answer is not there, even if this class has it.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return outer_->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

private:
    IUnknown* outer_;
};

template <typename T> class AggregatedObject final : public IUnknown, private LockedLifetime<AggregatedObject<T>> {
    using Lifetime = LockedLifetime<AggregatedObject<T>>;
    friend Lifetime;

public:
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) { return Lifetime::Make(riid, ppv, outer); }

    // The non-delegating IUnknown.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            if (!ppv) return E_POINTER;
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return LookupInterface<T>(&contained_, T::interfaces, riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return Lifetime::Increment(); }
    STDMETHODIMP_(ULONG) Release() override { return Lifetime::Decrement(); }

private:
    explicit AggregatedObject(IUnknown* outer) : contained_(outer) {}
    ~AggregatedObject() = default;
    ContainedObject<T> contained_;
};

// A class-table row's createInstance: standalone without an outer unknown, aggregated with one.
template <typename T> HRESULT CreateComObject(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return outer ? AggregatedObject<T>::Create(outer, riid, ppv) : StandaloneObject<T>::Create(riid, ppv);
}

} // namespace kestrune
