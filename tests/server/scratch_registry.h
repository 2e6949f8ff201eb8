// A scratch key standing in for HKEY_CLASSES_ROOT (and HKEY_LOCAL_MACHINE) for one test, and a
// sorted dump of what lies below a key.
#pragma once
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestrune::testing {

inline std::wstring DumpKey(HKEY key, const std::wstring& path = L"") {
    std::vector<std::wstring> lines;
    DWORD index = 0;
    wchar_t name[16384];
    BYTE data[8192];
    for (;; ++index) {
        DWORD nameLength = 16384, dataLength = sizeof data, type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
        std::wstring line = path + L" : " + (nameLength ? name : L"@") + L" = ";
        if (type == REG_SZ) {
            line += L"s '" + std::wstring(reinterpret_cast<wchar_t*>(data)) + L"'";
        } else {
            line += L"type " + std::to_wstring(type) + L" bytes";
            for (DWORD i = 0; i < dataLength; ++i) line += L" " + std::to_wstring(data[i]);
        }
        lines.push_back(line);
    }
    std::vector<std::wstring> subkeys;
    for (index = 0;; ++index) {
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.push_back(name);
    }
    std::sort(lines.begin(), lines.end());
    std::sort(subkeys.begin(), subkeys.end());
    std::wstring dump;
    for (auto& line : lines) dump += line + L"\n";
    for (auto& subkey : subkeys) {
        std::wstring child = path.empty() ? subkey : path + L"\\" + subkey;
        dump += child + L"\n";
        HKEY opened = nullptr;
        if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS) {
            dump += DumpKey(opened, child);
            RegCloseKey(opened);
        }
    }
    return dump;
}

class ScratchRegistry {
public:
    explicit ScratchRegistry(const std::wstring& name) : path_(L"Software\\KestruneTests\\" + name) {
        RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        RegCreateKeyExW(HKEY_CURRENT_USER, (path_ + L"\\HKCR").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &classes_, nullptr);
        RegCreateKeyExW(HKEY_CURRENT_USER, (path_ + L"\\HKLM").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &machine_, nullptr);
        RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_);
    }
    ~ScratchRegistry() {
        for (auto& path : refused_) SetAccess(path, L"D:(A;OICI;KA;;;WD)");
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(classes_);
        RegCloseKey(machine_);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KestruneTests");
    }
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    HKEY Classes() const { return classes_; }
    // Key `path` below the classes' root, made (with a value) and then refused to every writer:
    // opening it for writing, setting or deleting a value, and deleting it fail with access denied.
    bool Refuse(const std::wstring& path) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(classes_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)) return false;
        RegSetValueExW(key, L"stale", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
        RegCloseKey(key);
        refused_.push_back(path);
        return SetAccess(path, L"D:(D;OICI;0x10006;;;WD)(A;OICI;KA;;;WD)");
    }
    std::wstring Dump() const { return DumpKey(classes_); }

private:
    bool SetAccess(const std::wstring& path, const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        HKEY key = nullptr;
        bool set = ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
                   !RegOpenKeyExW(classes_, path.c_str(), 0, WRITE_DAC, &key) &&
                   !RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        if (key) RegCloseKey(key);
        LocalFree(descriptor);
        return set;
    }

    std::vector<std::wstring> refused_;
    std::wstring path_;
    HKEY classes_ = nullptr;
    HKEY machine_ = nullptr;
};

} // namespace kestrune::testing
