#include "server/replacement_map.h"

#include <objbase.h>

#include <cwchar>

namespace kestrune {
namespace {

wchar_t* CopyOnTaskAllocator(const wchar_t* text) {
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (copy) memcpy(copy, text, bytes);
    return copy;
}

} // namespace

HRESULT ReplacementMap::Add(const wchar_t* name, const wchar_t* text) {
    if (!name || !text) return E_INVALIDARG;
    if (count_ == capacity_) {
        int capacity = capacity_ ? capacity_ * 2 : 10;
        auto* grown = static_cast<Pair*>(CoTaskMemRealloc(pairs_, capacity * sizeof(Pair)));
        if (!grown) return E_OUTOFMEMORY;
        pairs_ = grown;
        capacity_ = capacity;
    }
    wchar_t* nameCopy = CopyOnTaskAllocator(name);
    wchar_t* textCopy = CopyOnTaskAllocator(text);
    if (!nameCopy || !textCopy) {
        CoTaskMemFree(nameCopy);
        CoTaskMemFree(textCopy);
        return E_OUTOFMEMORY;
    }
    pairs_[count_++] = Pair{nameCopy, textCopy};
    return S_OK;
}

const wchar_t* ReplacementMap::Find(const wchar_t* name) const {
    for (int i = 0; i < count_; ++i)
        if (lstrcmpiW(pairs_[i].name, name) == 0) return pairs_[i].text;
    return nullptr;
}

void ReplacementMap::Clear() {
    for (int i = 0; i < count_; ++i) {
        CoTaskMemFree(pairs_[i].name);
        CoTaskMemFree(pairs_[i].text);
    }
    CoTaskMemFree(pairs_);
    pairs_ = nullptr;
    count_ = capacity_ = 0;
}

} // namespace kestrune
