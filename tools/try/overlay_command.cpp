// overlay: which overlay identifiers claim a path, in the order Explorer loads them, and the
// icon each would draw.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tools/try/commands.h"
#include "tools/try/console.h"
#include "tools/try/handlers.h"

namespace kestrune::trying {
namespace {

std::wstring IconText(IShellIconOverlayIdentifier* identifier) {
    wchar_t file[MAX_PATH] = {};
    int index = 0;
    DWORD flags = 0;
    HRESULT result = identifier->GetOverlayInfo(file, MAX_PATH, &index, &flags);
    if (FAILED(result)) return L"no icon (" + ResultText(result) + L")";
    if (!(flags & ISIOI_ICONFILE)) return L"no icon file";
    if (!(flags & ISIOI_ICONINDEX)) index = 0;
    HICON icon = nullptr;
    bool found = ExtractIconExW(file, index, nullptr, &icon, 1) == 1 && icon;
    if (icon) DestroyIcon(icon);
    return L"icon " + std::to_wstring(index) + L" of " + file + (found ? L"" : L" (not found in that file)");
}

} // namespace

int OverlayCommand(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        PrintError(path + L" does not exist");
        return kFailed;
    }
    std::vector<Handler> identifiers = ReadOverlayIdentifiers();
    Print(L"overlay identifiers, in the order Explorer loads them, for " + path + L":");
    for (size_t position = 0; position < identifiers.size(); ++position) {
        const Handler& identifier = identifiers[position];
        std::wstring line = L"  " + std::to_wstring(position + 1) + L" " + Describe(identifier) + L": ";
        if (position >= kOverlaysExplorerLoads) {
            Print(line + L"not loaded (Explorer loads the first 15)");
            continue;
        }
        ComPtr<IShellIconOverlayIdentifier> overlay;
        HRESULT result = CreateHandler(identifier, overlay);
        if (FAILED(result)) {
            Print(line + L"cannot be created, " + ResultText(result));
            continue;
        }
        int priority = 0;
        overlay->GetPriority(&priority);
        result = overlay->IsMemberOf(path.c_str(), attributes);
        Print(line + (result == S_OK ? L"claims it" : L"does not claim it") + L"; " + IconText(overlay.Get()) +
              L"; priority " + std::to_wstring(priority));
    }
    return kDone;
}

} // namespace kestrune::trying
