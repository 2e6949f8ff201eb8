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

template <typename T> class StandaloneObject final : public T {
public:
    static HRESULT Create(REFIID riid, void** ppv) {
        auto* object = new (std::nothrow) StandaloneObject();
        if (!object) return E_OUTOFMEMORY;
        Module().Lock();
        HRESULT result = object->QueryInterface(riid, ppv);
        if (result != S_OK) object->Destroy();
        return result;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return LookupInterface<T>(this, T::interfaces, riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refCount_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG count = --refCount_;
        if (count == 0) Destroy();
        return static_cast<ULONG>(count);
    }

private:
    StandaloneObject() = default;
    ~StandaloneObject() = default;
    // A stray AddRef and Release during the class's tear-down ends at 1 and cannot destroy twice.
    void Destroy() {
        refCount_ = 1;
        Module().Unlock();
        delete this;
    }
    LONG refCount_ = 0;
};

// The instance inside an aggregate: its IUnknown belongs to the outer object.
template <typename T> class ContainedObject final : public T {
public:
    explicit ContainedObject(IUnknown* outer) : outer_(outer) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        HRESULT result = outer_->QueryInterface(riid, ppv);
        if (FAILED(result) && outer_ != T::interfaces.rows[0].pointer(this))
            result = LookupInterface<T>(this, T::interfaces, riid, ppv);
        return result;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

private:
    IUnknown* outer_;
};

template <typename T> class AggregatedObject final : public IUnknown {
public:
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) {
        auto* object = new (std::nothrow) AggregatedObject(outer);
        if (!object) return E_OUTOFMEMORY;
        Module().Lock();
        HRESULT result = object->QueryInterface(riid, ppv);
        if (result != S_OK) object->Destroy();
        return result;
    }

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
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refCount_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG count = --refCount_;
        if (count == 0) Destroy();
        return static_cast<ULONG>(count);
    }

private:
    explicit AggregatedObject(IUnknown* outer) : contained_(outer) {}
    ~AggregatedObject() = default;
    void Destroy() {
        refCount_ = 1;
        Module().Unlock();
        delete this;
    }
    LONG refCount_ = 0;
    ContainedObject<T> contained_;
};

// A class-table row's createInstance: standalone without an outer unknown, aggregated with one.
template <typename T> HRESULT CreateComObject(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return outer ? AggregatedObject<T>::Create(outer, riid, ppv) : StandaloneObject<T>::Create(riid, ppv);
}

} // namespace kestrune
