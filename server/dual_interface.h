// IDispatch of a dual interface I, answered from the type information in Holder.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include "server/type_info_holder.h"

namespace kestrune {

template <typename I, TypeInfoHolder* Holder> class DualInterface : public I {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
        return Holder->GetTypeInfo(index, lcid, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
        return Holder->GetIDsOfNames(names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID member, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override {
        return Holder->Invoke(static_cast<I*>(this), member, lcid, flags, params, result, exception,
                              argumentError);
    }
};

} // namespace kestrune
