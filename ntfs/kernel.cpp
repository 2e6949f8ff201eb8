#include "ntfs/kernel.h"
#include "ntfs/kernel_override.h"

#include <atomic>

namespace kestrune {
namespace {

const KernelApi systemKernel = {
    ::CreateFileW, ::GetFileAttributesW, ::GetFullPathNameW, ::FindFirstFileW, ::FindNextFileW,
    ::FindClose, ::GetFileInformationByHandle, ::CreateHardLinkW, ::DeleteFileW, ::ReadFile,
    ::WriteFile, ::GetFileSize, ::GetFileSizeEx, ::CloseHandle, ::GetCurrentDirectoryW, ::SetCurrentDirectoryW,
    ::GetDiskFreeSpaceExW, ::SetThreadErrorMode, ::GetVolumeInformationW, ::GetLogicalDriveStringsW,
    ::DeviceIoControl, ::BackupRead, ::BackupSeek, ::GetVolumeNameForVolumeMountPointW,
    ::SetVolumeMountPointW, ::GlobalAlloc, ::GlobalFree, ::CreateEventW, ::SetEvent, ::ResetEvent,
    ::WaitForSingleObject,
};

std::atomic<const KernelApi*> current{&systemKernel};

} // namespace

const KernelApi& Kernel() { return *current.load(std::memory_order_acquire); }

const KernelApi& SystemKernel() { return systemKernel; }

const KernelApi* ReplaceKernelApi(const KernelApi* api) {
    return current.exchange(api ? api : &systemKernel, std::memory_order_acq_rel);
}

} // namespace kestrune
