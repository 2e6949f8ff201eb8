// Copies a file's or stream's whole content to another through one bounded buffer, so that the
// memory used does not depend on the content's size (4 GiB and more included).
#pragma once
#include <windows.h>

namespace kestrune {

constexpr DWORD kCopyChunkBytes = 64 * 1024;

enum class CopyResult { Copied, ReadFailed, WriteFailed, Cancelled };

// What a copy on a worker shares with the thread that shows its progress: the bytes to copy and
// copied so far, and the user's cancel, which the copy sees between two chunks.
struct CopyProgress {
    volatile LONG64 total = 0;
    volatile LONG64 copied = 0;
    volatile LONG cancelled = 0;
};

// `chunk` holds kCopyChunkBytes. A read that fails, or that ends before the size the source had
// when the copy began, is ReadFailed; a write that fails or writes less is WriteFailed. With
// `progress`, the counts are kept there and, where `cancellable`, a cancel ends the copy.
CopyResult CopyContent(HANDLE source, HANDLE target, void* chunk, CopyProgress* progress = nullptr,
                       bool cancellable = true);

} // namespace kestrune
