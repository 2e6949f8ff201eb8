// The handler lists Explorer reads, read the same way: under HKCR\<class>\shellex\<list> each
// subkey names a handler, by its own name when that is a CLSID, else by its default value.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tools/try/com_ptr.h"

// mingw-w64 names these two interfaces' identifiers without binding them to __uuidof.
__CRT_UUID_DECL(ICopyHookW, 0x000214FC, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(IShellIconOverlayIdentifier, 0x0C6C4200, 0xC589, 0x11D0, 0x99, 0x9A, 0x00, 0xC0, 0x4F, 0xD6, 0x55, 0xE1)

namespace kestrune::trying {

struct Handler {
    std::wstring name;  // the subkey's name
    std::wstring clsid; // "{...}"
    CLSID id = {};
    bool approved = false; // listed under Shell Extensions\Approved
};

// Every handler of `list` under the class keys, in the keys' order and each subkey's name order,
// each CLSID once.
std::vector<Handler> ReadHandlers(const std::vector<std::wstring>& classKeys, const wchar_t* list);

// The overlay identifiers in the order Explorer loads them (name order; only the first 15 count).
std::vector<Handler> ReadOverlayIdentifiers();
constexpr size_t kOverlaysExplorerLoads = 15;

// Creates a handler the way Explorer does: by CLSID through CoCreateInstance, in-process.
template <typename T> HRESULT CreateHandler(const Handler& handler, ComPtr<T>& out) {
    return CoCreateInstance(handler.id, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), out.OutVoid());
}

// "Kestrune {839443F4-...}", with a warning when the handler is not approved.
std::wstring Describe(const Handler& handler);

// The four classes of Kestrune.dll and where they are registered.
struct ProductClass {
    const wchar_t* name;
    const wchar_t* clsid;
};
extern const ProductClass kProductClasses[4];
// The DLL path the product's classes are registered with, empty when it is not installed.
std::wstring InstalledServerPath();

} // namespace kestrune::trying
