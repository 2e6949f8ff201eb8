#include "shell/propntfs/content_copy.h"

#include "ntfs/kernel.h"

namespace kestrune {

CopyResult CopyContent(HANDLE source, HANDLE target, void* chunk, CopyProgress* progress, bool cancellable) {
    LARGE_INTEGER size = {};
    if (!Kernel().GetFileSizeEx(source, &size)) return CopyResult::ReadFailed;
    if (progress) {
        InterlockedExchange64(&progress->total, size.QuadPart);
        InterlockedExchange64(&progress->copied, 0);
    }
    unsigned long long copied = 0;
    for (;;) {
        if (progress && cancellable && InterlockedCompareExchange(&progress->cancelled, 0, 0))
            return CopyResult::Cancelled;
        DWORD read = 0;
        if (!Kernel().ReadFile(source, chunk, kCopyChunkBytes, &read, nullptr)) return CopyResult::ReadFailed;
        if (read == 0) break;
        DWORD written = 0;
        if (!Kernel().WriteFile(target, chunk, read, &written, nullptr) || written != read)
            return CopyResult::WriteFailed;
        copied += read;
        if (progress) InterlockedExchange64(&progress->copied, static_cast<LONG64>(copied));
    }
    return copied < static_cast<unsigned long long>(size.QuadPart) ? CopyResult::ReadFailed : CopyResult::Copied;
}

} // namespace kestrune
