#include "tools/try/handlers.h"

#include <algorithm>

#include "tools/try/registry_key.h"

namespace kestrune::trying {
namespace {

const wchar_t kApprovedKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kOverlayKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers";

bool IsApproved(const std::wstring& clsid) {
    RegistryKey approved(HKEY_LOCAL_MACHINE, kApprovedKey);
    return approved.Get() && RegQueryValueExW(approved.Get(), clsid.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void ReadList(HKEY root, const std::wstring& path, std::vector<Handler>& handlers, bool unique) {
    RegistryKey list(root, path);
    for (const std::wstring& name : list.Subkeys()) {
        Handler handler;
        handler.name = name;
        handler.clsid = name;
        if (FAILED(CLSIDFromString(handler.clsid.c_str(), &handler.id))) {
            handler.clsid = list.Text(name.c_str(), nullptr);
            if (FAILED(CLSIDFromString(handler.clsid.c_str(), &handler.id))) continue;
        }
        bool seen = std::any_of(handlers.begin(), handlers.end(),
                                [&](const Handler& other) { return IsEqualCLSID(other.id, handler.id); });
        if (unique && seen) continue;
        handler.approved = IsApproved(handler.clsid);
        handlers.push_back(handler);
    }
}

} // namespace

const ProductClass kProductClasses[4] = {
    {L"HardLink", L"{839443F4-21A5-4DB5-9DA7-0D3B18B0DAA5}"},
    {L"ReparsePoint", L"{5BD5298E-22D1-46C4-A9EF-8F531E2F372F}"},
    {L"OperationHook", L"{5A38A4E1-060F-44FB-AEBF-1AF62FD6D493}"},
    {L"PropNTFS", L"{C7B88FC2-749C-446A-9917-7ECB171F10E6}"},
};

std::vector<Handler> ReadHandlers(const std::vector<std::wstring>& classKeys, const wchar_t* list) {
    std::vector<Handler> handlers;
    for (const std::wstring& classKey : classKeys)
        ReadList(HKEY_CLASSES_ROOT, classKey + L"\\shellex\\" + list, handlers, true);
    return handlers;
}

std::vector<Handler> ReadOverlayIdentifiers() {
    std::vector<Handler> handlers;
    ReadList(HKEY_LOCAL_MACHINE, kOverlayKey, handlers, false);
    return handlers;
}

std::wstring Describe(const Handler& handler) {
    std::wstring text = L"\"" + handler.name + L"\" " + handler.clsid;
    for (const ProductClass& product : kProductClasses)
        if (lstrcmpiW(product.clsid, handler.clsid.c_str()) == 0) text += std::wstring(L" (Kestrune ") + product.name + L")";
    if (!handler.approved) text += L" [not in the approved list: Explorer may refuse it]";
    return text;
}

std::wstring InstalledServerPath() {
    RegistryKey server(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kProductClasses[0].clsid + L"\\InprocServer32");
    std::wstring path = server.Text(nullptr, nullptr);
    if (path.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return L"";
    return path;
}

} // namespace kestrune::trying
