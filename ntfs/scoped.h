// Small owners for kernel handles and heap blocks obtained through the kernel table.
#pragma once
#include "ntfs/kernel.h"

namespace kestrune {

class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Get() const { return handle_; }
    void Reset() {
        if (Valid()) Kernel().CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

class ScopedFind {
public:
    explicit ScopedFind(HANDLE handle) : handle_(handle) {}
    ~ScopedFind() { Reset(); }
    ScopedFind(const ScopedFind&) = delete;
    ScopedFind& operator=(const ScopedFind&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    void Reset() {
        if (Valid()) Kernel().FindClose(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

// A zero-filled GlobalAlloc block, freed when the owner goes.
class ScopedGlobal {
public:
    explicit ScopedGlobal(SIZE_T bytes) : block_(Kernel().GlobalAlloc(GPTR, bytes)) {}
    ~ScopedGlobal() {
        if (block_) Kernel().GlobalFree(block_);
    }
    ScopedGlobal(const ScopedGlobal&) = delete;
    ScopedGlobal& operator=(const ScopedGlobal&) = delete;
    bool Valid() const { return block_ != nullptr; }
    template <typename T> T* As() const { return static_cast<T*>(block_); }

private:
    HGLOBAL block_;
};

// Switches off the system's critical-error dialog (an empty removable drive) for one scope.
class ScopedNoCriticalErrorDialog {
public:
    ScopedNoCriticalErrorDialog() : previous_(Kernel().SetErrorMode(SEM_FAILCRITICALERRORS)) {}
    ~ScopedNoCriticalErrorDialog() { Kernel().SetErrorMode(previous_); }
    ScopedNoCriticalErrorDialog(const ScopedNoCriticalErrorDialog&) = delete;
    ScopedNoCriticalErrorDialog& operator=(const ScopedNoCriticalErrorDialog&) = delete;

private:
    UINT previous_;
};

} // namespace kestrune
