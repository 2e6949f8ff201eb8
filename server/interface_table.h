// Per-class interface tables and the lookup that every QueryInterface of the library uses.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <cstddef>

namespace kestrune {

template <typename T> struct InterfaceEntry {
    const IID* iid;
    IUnknown* (*pointer)(T* object);
};

// The pointer of interface I within an object of class T.
template <typename T, typename I> IUnknown* InterfaceOf(T* object) { return static_cast<I*>(object); }

template <typename T> struct InterfaceTable {
    const InterfaceEntry<T>* rows;
    size_t count;
};

template <typename T, size_t N> constexpr InterfaceTable<T> MakeInterfaceTable(const InterfaceEntry<T> (&rows)[N]) {
    return InterfaceTable<T>{rows, N};
}

// Row 1 answers IUnknown and is the object's identity.
template <typename T>
HRESULT LookupInterface(T* object, const InterfaceTable<T>& table, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* found = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        found = table.rows[0].pointer(object);
    } else {
        for (size_t i = 0; i < table.count && !found; ++i)
            if (IsEqualIID(*table.rows[i].iid, riid)) found = table.rows[i].pointer(object);
    }
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
}

} // namespace kestrune
