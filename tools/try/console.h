// The try host's console: UTF-16 into a Windows console, UTF-8 bytes into a pipe or a file (under
// Wine a terminal is such a pipe, where bytes of the ANSI code page would be unreadable).
#pragma once
#include <windows.h>

#include <string>

namespace kestrune::trying {

void Print(const std::wstring& text);      // a line on standard output
void PrintError(const std::wstring& text); // a line on standard error

// "0x800700CE (The filename or extension is too long)": the value, its name for the results
// handlers give, and the system's text for it.
std::wstring ResultText(HRESULT result);
// The system's text for an HRESULT or a Win32 error code, without the closing full stop; empty if none.
std::wstring SystemMessage(HRESULT result);

} // namespace kestrune::trying
