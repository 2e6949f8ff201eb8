// The common open and save dialogs as the page uses them: the process's current directory is
// left as it was, and the filter list is built in a bounded buffer.
#pragma once
#include <windows.h>

namespace kestrune {

constexpr size_t kFilterChars = 260;

// `extraFilter` ("text|pattern", may be null) goes before "All files(*.*)|*.*" (in the user's
// language); a filter that
// does not fit the buffer is left out rather than cut. TRUE when the user chose a file, whose path
// is then in `file` (`fileChars` characters).
BOOL ShowOpenFileDialog(HWND owner, wchar_t* file, DWORD fileChars, const wchar_t* extraFilter, const wchar_t* title,
                        DWORD filterIndex, bool multipleSelection);
BOOL ShowSaveFileDialog(HWND owner, wchar_t* file, DWORD fileChars, const wchar_t* extraFilter, const wchar_t* title,
                        DWORD filterIndex);

// The double-zero-terminated filter list in `filter` (kFilterChars characters).
void BuildFileFilter(wchar_t (&filter)[kFilterChars], const wchar_t* extraFilter);

} // namespace kestrune
