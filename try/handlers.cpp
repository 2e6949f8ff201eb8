#include "try/handlers.h"

#include <algorithm>

namespace kestrune::trying {
namespace {

const wchar_t kApprovedKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kOverlayKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers";

class ScopedKey {
public:
    ScopedKey(HKEY root, const std::wstring& path) {
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~ScopedKey() {
        if (key_) RegCloseKey(key_);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    HKEY Get() const { return key_; }

    std::vector<std::wstring> Subkeys() const {
        std::vector<std::wstring> names;
        wchar_t name[256];
        for (DWORD index = 0; key_; ++index) {
            DWORD length = 256;
            if (RegEnumKeyExW(key_, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.push_back(name);
        }
        std::sort(names.begin(), names.end(),
                  [](const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) < 0; });
        return names;
    }
    std::wstring Text(const wchar_t* subkey, const wchar_t* value) const {
        wchar_t text[MAX_PATH] = {};
        DWORD size = sizeof text - sizeof(wchar_t);
        if (!key_ || RegGetValueW(key_, subkey, value, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return L"";
        return text;
    }

private:
    HKEY key_ = nullptr;
};

bool IsApproved(const std::wstring& clsid) {
    ScopedKey approved(HKEY_LOCAL_MACHINE, kApprovedKey);
    return approved.Get() && RegQueryValueExW(approved.Get(), clsid.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void ReadList(HKEY root, const std::wstring& path, std::vector<Handler>& handlers, bool unique) {
    ScopedKey list(root, path);
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
    ScopedKey server(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kProductClasses[0].clsid + L"\\InprocServer32");
    std::wstring path = server.Text(nullptr, nullptr);
    if (path.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return L"";
    return path;
}

} // namespace kestrune::trying
