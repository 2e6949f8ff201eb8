// The preview's text from a stream's first bytes: UTF-16 with its byte-order mark and UTF-8
// (with a mark, or bytes that are valid UTF-8) as Unicode, anything else through the ANSI code page.
#pragma once
#include <windows.h>

namespace kestrune {

// `text` holds `count` + 1 characters. Zero bytes (zero units in UTF-16) show as spaces; when the
// bytes were `cut` from a longer stream, a character the cut split is dropped, not garbled.
void DecodePreview(const BYTE* bytes, DWORD count, bool cut, wchar_t* text);

} // namespace kestrune
