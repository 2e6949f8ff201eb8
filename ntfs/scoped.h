// Small owners for kernel handles and heap blocks obtained through the kernel table.
#pragma once
#include "ntfs/kernel.h"

namespace kestrune {

// Owns a handle and gives it back through the kernel table's `Close` (CloseHandle, FindClose).
template <BOOL(WINAPI* KernelApi::*Close)(HANDLE)> class ScopedKernelHandle {
public:
    explicit ScopedKernelHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~ScopedKernelHandle() { Reset(); }
    ScopedKernelHandle(const ScopedKernelHandle&) = delete;
    ScopedKernelHandle& operator=(const ScopedKernelHandle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Get() const { return handle_; }
    // Gives back the handle held and takes `handle` instead.
    void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (Valid()) (Kernel().*Close)(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

using ScopedHandle = ScopedKernelHandle<&KernelApi::CloseHandle>;
using ScopedFind = ScopedKernelHandle<&KernelApi::FindClose>;

// A zero-filled GlobalAlloc block, freed when the owner goes.
class ScopedGlobal {
public:
    ScopedGlobal() : block_(nullptr) {}
    explicit ScopedGlobal(SIZE_T bytes) : block_(Kernel().GlobalAlloc(GPTR, bytes)) {}
    ~ScopedGlobal() { Reset(0); }
    // Frees the block held and takes a new one of `bytes` (none for 0); false when none was had.
    bool Reset(SIZE_T bytes) {
        if (block_) Kernel().GlobalFree(block_);
        block_ = bytes ? Kernel().GlobalAlloc(GPTR, bytes) : nullptr;
        return block_ != nullptr;
    }
    ScopedGlobal(const ScopedGlobal&) = delete;
    ScopedGlobal& operator=(const ScopedGlobal&) = delete;
    bool Valid() const { return block_ != nullptr; }
    template <typename T> T* As() const { return static_cast<T*>(block_); }

private:
    HGLOBAL block_;
};

// Switches off the system's critical-error dialog (an empty removable drive) for one scope, on
// this thread only: the process-wide mode belongs to the host, and other threads of ours run beside it.
class ScopedNoCriticalErrorDialog {
public:
    ScopedNoCriticalErrorDialog() {
        if (!Kernel().SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_)) changed_ = false;
    }
    ~ScopedNoCriticalErrorDialog() {
        if (changed_) Kernel().SetThreadErrorMode(previous_, nullptr);
    }
    ScopedNoCriticalErrorDialog(const ScopedNoCriticalErrorDialog&) = delete;
    ScopedNoCriticalErrorDialog& operator=(const ScopedNoCriticalErrorDialog&) = delete;

private:
    DWORD previous_ = 0;
    bool changed_ = true;
};

} // namespace kestrune
