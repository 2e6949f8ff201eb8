// Copies a file's or stream's whole content to another through one bounded buffer, so that the
// memory used does not depend on the content's size (4 GiB and more included).
#pragma once
#include <windows.h>

namespace kestrune {

constexpr DWORD kCopyChunkBytes = 64 * 1024;

enum class CopyResult { Copied, ReadFailed, WriteFailed };

// `chunk` holds kCopyChunkBytes. A read that fails, or that ends before the size the source had
// when the copy began, is ReadFailed; a write that fails or writes less is WriteFailed.
CopyResult CopyContent(HANDLE source, HANDLE target, void* chunk);

} // namespace kestrune
