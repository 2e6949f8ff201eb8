#include "tools/try/console.h"

#include <cwchar>
#include <cwctype>

namespace kestrune::trying {
namespace {

void WriteLine(DWORD which, const std::wstring& text) {
    HANDLE out = GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    std::wstring line = text + L"\n";
    DWORD mode = 0, done = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line.c_str(), static_cast<DWORD>(line.size()), &done, nullptr);
        return;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], bytes, nullptr, nullptr);
    WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &done, nullptr);
}

struct NamedResult {
    HRESULT result;
    const wchar_t* name;
};

const NamedResult kNames[] = {
    {S_OK, L"S_OK"},
    {S_FALSE, L"S_FALSE"},
    {E_FAIL, L"E_FAIL"},
    {E_INVALIDARG, L"E_INVALIDARG"},
    {E_NOINTERFACE, L"E_NOINTERFACE"},
    {E_NOTIMPL, L"E_NOTIMPL"},
    {E_POINTER, L"E_POINTER"},
    {E_OUTOFMEMORY, L"E_OUTOFMEMORY"},
    {CLASS_E_CLASSNOTAVAILABLE, L"CLASS_E_CLASSNOTAVAILABLE"},
    {CLASS_E_NOAGGREGATION, L"CLASS_E_NOAGGREGATION"},
    {REGDB_E_CLASSNOTREG, L"REGDB_E_CLASSNOTREG"},
};

} // namespace

void Print(const std::wstring& text) { WriteLine(STD_OUTPUT_HANDLE, text); }
void PrintError(const std::wstring& text) { WriteLine(STD_ERROR_HANDLE, text); }

std::wstring ResultText(HRESULT result) {
    wchar_t text[64];
    swprintf(text, 64, L"0x%08lX", static_cast<unsigned long>(result));
    std::wstring line = text;
    for (const NamedResult& named : kNames)
        if (named.result == result) line += std::wstring(L" ") + named.name;
    std::wstring message = SystemMessage(result);
    return message.empty() ? line : line + L" (" + message + L")";
}

std::wstring SystemMessage(HRESULT result) {
    // English first: this is a developer's tool, whatever the prefix's user language.
    wchar_t* buffer = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD length = 0;
    for (DWORD language : {DWORD(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), DWORD(0)}) {
        length = FormatMessageW(flags, nullptr, static_cast<DWORD>(result), language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        if (length) break;
    }
    std::wstring message = length ? std::wstring(buffer, length) : L"";
    if (buffer) LocalFree(buffer);
    while (!message.empty() && (iswspace(message.back()) || message.back() == L'.')) message.pop_back();
    return message;
}

} // namespace kestrune::trying
