// Owns an open registry key and reads it the way the try host needs: subkey names in name
// order, and string values.
#pragma once
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestrune::trying {

class RegistryKey {
public:
    RegistryKey(HKEY root, const std::wstring& path) {
        if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~RegistryKey() {
        if (key_) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
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

} // namespace kestrune::trying
