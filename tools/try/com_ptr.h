// Owns one COM interface pointer.
#pragma once
#include <objbase.h>

namespace kestrune::trying {

template <typename T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = other.pointer_;
            other.pointer_ = nullptr;
        }
        return *this;
    }

    T* operator->() const { return pointer_; }
    T* Get() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // For calls that hand out a new reference.
    T** Out() {
        Reset();
        return &pointer_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    void Reset() {
        if (pointer_) pointer_->Release();
        pointer_ = nullptr;
    }
    template <typename U> HRESULT As(ComPtr<U>& other) const {
        return pointer_ ? pointer_->QueryInterface(__uuidof(U), other.OutVoid()) : E_POINTER;
    }

private:
    T* pointer_ = nullptr;
};

} // namespace kestrune::trying
