// The try host's console: UTF-16 into a Windows console, UTF-8 bytes into a pipe or a file (under
// Wine a terminal is such a pipe, where bytes of the ANSI code page would be unreadable).
#pragma once
#include <windows.h>

#include <string>

namespace kestrune::trying {

void Print(const std::wstring& text);      // a line on standard output
void PrintError(const std::wstring& text); // a line on standard error

// "0x80040111 CLASS_E_CLASSNOTAVAILABLE": the value, and its name for the results handlers give.
std::wstring ResultText(HRESULT result);

} // namespace kestrune::trying
