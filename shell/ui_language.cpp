#include "shell/ui_language.h"

#include <cwchar>

#include "server/module.h"

namespace kestrune {
namespace {

constexpr LANGID kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr UINT kStringsPerBlock = 16;

const void* FindInLanguage(const wchar_t* type, UINT id, LANGID language, DWORD* bytes) {
    HMODULE module = Module().instance;
    HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
    if (!found) return nullptr;
    const void* data = LockResource(LoadResource(module, found));
    if (data && bytes) *bytes = SizeofResource(module, found);
    return data;
}

} // namespace

LANGID UiLanguage() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? kJapanese : kEnglish; }

const void* FindUiResource(const wchar_t* type, UINT id, DWORD* bytes) {
    DWORD size = 0;
    const void* data = FindInLanguage(type, id, UiLanguage(), &size);
    if (!data) data = FindInLanguage(type, id, kJapanese, &size);
    if (bytes) *bytes = data ? size : 0;
    return data;
}

HMENU LoadUiMenu(UINT id) {
    const void* menu = FindUiResource(RT_MENU, id);
    return menu ? LoadMenuIndirectW(static_cast<const MENUTEMPLATEW*>(menu)) : nullptr;
}

// A string table block holds 16 strings, each a count of characters and the characters,
// without terminators; every count is checked against the block's size.
void LoadUiString(UINT id, wchar_t* buffer, size_t chars) {
    if (chars == 0) return;
    buffer[0] = L'\0';
    DWORD bytes = 0;
    const auto* block = static_cast<const WCHAR*>(FindUiResource(RT_STRING, id / kStringsPerBlock + 1, &bytes));
    if (!block) return;
    size_t units = bytes / sizeof(WCHAR), at = 0;
    for (UINT index = 0; index < id % kStringsPerBlock && at < units; ++index) at += 1 + block[at];
    if (at >= units) return;
    size_t length = block[at];
    if (length > units - at - 1) return;
    if (length > chars - 1) length = chars - 1;
    wmemcpy(buffer, block + at + 1, length);
    buffer[length] = L'\0';
}

} // namespace kestrune
