#include "ntfs/kernel.h"
#include "ntfs/kernel_override.h"

#include <winternl.h>

#include <atomic>

namespace kestrune {
namespace {

// An export of kernel32 (or of kernelbase, where newer calls live) that older systems lack, or null.
template <typename Function> Function OptionalKernelExport(const char* name) {
    static const wchar_t* const libraries[] = {L"kernel32.dll", L"kernelbase.dll"};
    for (const wchar_t* library : libraries)
        if (HMODULE module = GetModuleHandleW(library))
            if (FARPROC found = GetProcAddress(module, name)) return reinterpret_cast<Function>(found);
    return nullptr;
}

// A new stream name (":name") goes to the file system service as it is, as Windows' own call passes
// it; every other name, as the call resolves it. (Wine's call resolves ":name" against the current
// folder and moves the stream's content there; the service refuses it, so the caller copies.)
BOOL WINAPI SetFileInformationAsWindows(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD bytes) {
    using SetInformation = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, PVOID, ULONG, int);
    using ErrorOf = ULONG(NTAPI*)(LONG);
    constexpr int kFileRenameInformation = 10;
    static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    static const auto set = reinterpret_cast<SetInformation>(
        reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "NtSetInformationFile") : nullptr));
    static const auto errorOf = reinterpret_cast<ErrorOf>(
        reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "RtlNtStatusToDosError") : nullptr));
    bool streamName = kind == FileRenameInfo && info && bytes >= sizeof(FILE_RENAME_INFO) &&
                      static_cast<FILE_RENAME_INFO*>(info)->FileName[0] == L':';
    if (!streamName || !set || !errorOf) return ::SetFileInformationByHandle(handle, kind, info, bytes);
    IO_STATUS_BLOCK status = {};
    LONG result = set(handle, &status, info, bytes, kFileRenameInformation);
    if (result >= 0) return TRUE;
    SetLastError(errorOf(result));
    return FALSE;
}

KernelApi MakeSystemKernel() {
    KernelApi api = {
        ::CreateFileW, ::GetFileAttributesW, ::GetFullPathNameW, ::FindFirstFileW, ::FindNextFileW,
        ::FindClose, ::GetFileInformationByHandle, ::GetFileInformationByHandleEx, ::CreateHardLinkW,
        ::DeleteFileW, ::ReadFile, ::WriteFile, ::GetFileSize, ::GetFileSizeEx, ::CloseHandle,
        ::GetCurrentDirectoryW, ::SetCurrentDirectoryW, ::GetDiskFreeSpaceExW, ::SetThreadErrorMode,
        ::GetVolumeInformationW, ::GetLogicalDriveStringsW, ::DeviceIoControl, ::BackupRead, ::BackupSeek,
        ::GetVolumeNameForVolumeMountPointW, ::SetVolumeMountPointW, ::GlobalAlloc, ::GlobalFree,
        ::CreateEventW, ::SetEvent, ::ResetEvent, ::WaitForSingleObject, nullptr, nullptr,
        nullptr, nullptr, ::MoveFileExW, ::RemoveDirectoryW, ::GetDriveTypeW, ::DeleteVolumeMountPointW,
        ::GetFinalPathNameByHandleW, nullptr, ::CreateDirectoryW, ::CreateSymbolicLinkW,
        SetFileInformationAsWindows, ::SetFilePointerEx,
    };
    api.GetFileInformationByName = OptionalKernelExport<decltype(api.GetFileInformationByName)>("GetFileInformationByName");
    api.FindFirstFileNameW = OptionalKernelExport<decltype(api.FindFirstFileNameW)>("FindFirstFileNameW");
    api.FindNextFileNameW = OptionalKernelExport<decltype(api.FindNextFileNameW)>("FindNextFileNameW");
    // One without the other is of no use.
    if (!api.FindFirstFileNameW || !api.FindNextFileNameW) {
        api.FindFirstFileNameW = nullptr;
        api.FindNextFileNameW = nullptr;
    }
    api.FindFirstStreamW = OptionalKernelExport<decltype(api.FindFirstStreamW)>("FindFirstStreamW");
    api.FindNextStreamW = OptionalKernelExport<decltype(api.FindNextStreamW)>("FindNextStreamW");
    if (!api.FindFirstStreamW || !api.FindNextStreamW) {
        api.FindFirstStreamW = nullptr;
        api.FindNextStreamW = nullptr;
    }
    return api;
}

// Null: the system table.
std::atomic<const KernelApi*> current{nullptr};

} // namespace

const KernelApi& Kernel() {
    const KernelApi* api = current.load(std::memory_order_acquire);
    return api ? *api : SystemKernel();
}

const KernelApi& SystemKernel() {
    static const KernelApi systemKernel = MakeSystemKernel();
    return systemKernel;
}

const KernelApi* ReplaceKernelApi(const KernelApi* api) {
    const KernelApi* previous = current.exchange(api, std::memory_order_acq_rel);
    return previous ? previous : &SystemKernel();
}

} // namespace kestrune
