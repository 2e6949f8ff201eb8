#include "shell/propntfs/content_copy.h"

#include "ntfs/kernel.h"

namespace kestrune {

CopyResult CopyContent(HANDLE source, HANDLE target, void* chunk) {
    LARGE_INTEGER size = {};
    if (!Kernel().GetFileSizeEx(source, &size)) return CopyResult::ReadFailed;
    unsigned long long copied = 0;
    for (;;) {
        DWORD read = 0;
        if (!Kernel().ReadFile(source, chunk, kCopyChunkBytes, &read, nullptr)) return CopyResult::ReadFailed;
        if (read == 0) break;
        DWORD written = 0;
        if (!Kernel().WriteFile(target, chunk, read, &written, nullptr) || written != read)
            return CopyResult::WriteFailed;
        copied += read;
    }
    return copied < static_cast<unsigned long long>(size.QuadPart) ? CopyResult::ReadFailed : CopyResult::Copied;
}

} // namespace kestrune
