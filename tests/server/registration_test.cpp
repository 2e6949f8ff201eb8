// DllRegisterServer and DllUnregisterServer of the built DLL, checked by registry dump, and the
// same through regsvr32 under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include <olectl.h>

#include "kestrune_h.h"
#include "tests/com/dll_module.h"
#include "tests/server/scratch_registry.h"

namespace kestrune::testing {
namespace {

struct ClassRow {
    const wchar_t* name;
    const wchar_t* clsid;
};
const ClassRow classes[] = {
    {L"HardLink", L"{839443F4-21A5-4DB5-9DA7-0D3B18B0DAA5}"},
    {L"ReparsePoint", L"{5BD5298E-22D1-46C4-A9EF-8F531E2F372F}"},
    {L"OperationHook", L"{5A38A4E1-060F-44FB-AEBF-1AF62FD6D493}"},
    {L"PropNTFS", L"{C7B88FC2-749C-446A-9917-7ECB171F10E6}"},
};

void SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY opened = nullptr;
    RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr);
    if (name || !value.empty())
        RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(opened);
}

// The registry content of the tables, written by hand into a key of its own and dumped.
std::wstring ExpectedDump(const std::wstring& module) {
    HKEY expected = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KestruneExpected", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &expected, nullptr);
    for (const ClassRow& row : classes) {
        std::wstring name = row.name, progId = L"Kestrune." + name, text = name + L" Class";
        std::wstring clsidKey = L"CLSID\\" + std::wstring(row.clsid);
        SetString(expected, progId + L".1", nullptr, text);
        SetString(expected, progId + L".1\\CLSID", nullptr, row.clsid);
        SetString(expected, progId, nullptr, text);
        SetString(expected, progId + L"\\CLSID", nullptr, row.clsid);
        SetString(expected, progId + L"\\CurVer", nullptr, progId + L".1");
        SetString(expected, clsidKey, nullptr, text);
        SetString(expected, clsidKey + L"\\ProgID", nullptr, progId + L".1");
        SetString(expected, clsidKey + L"\\VersionIndependentProgID", nullptr, progId);
        SetString(expected, clsidKey + L"\\Programmable", nullptr, L"");
        SetString(expected, clsidKey + L"\\InprocServer32", nullptr, module);
        SetString(expected, clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
        SetString(expected, clsidKey + L"\\TypeLib", nullptr, L"{4E19DA74-5A13-4910-8F75-236B94656609}");
    }
    std::wstring dump = DumpKey(expected);
    RegCloseKey(expected);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KestruneExpected");
    return dump;
}

// The class part of a dump: ProgID and CLSID keys.
std::wstring ClassPart(const std::wstring& dump) {
    std::wistringstream lines(dump);
    std::wstring line, part;
    while (std::getline(lines, line))
        if (line.rfind(L"Kestrune.", 0) == 0 || line.rfind(L"CLSID", 0) == 0) part += line + L"\n";
    return part;
}

bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

class SelfRegistration : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitialize(nullptr); }
    static void TearDownTestSuite() { CoUninitialize(); }
    void SetUp() override { ASSERT_NE(dll.module, nullptr); }
    DllModule dll;
};

TEST_F(SelfRegistration, RegistersExactlyTheTablesAgainAndAgain) {
    ScratchRegistry scratch(L"SelfRegistration");
    std::wstring expected = ExpectedDump(dll.Path());
    // Stale content under the CLSID key is rebuilt away; unlisted keys under a ProgID stay.
    SetString(scratch.Classes(), L"CLSID\\{839443F4-21A5-4DB5-9DA7-0D3B18B0DAA5}\\Stale", nullptr, L"old");
    SetString(scratch.Classes(), L"Kestrune.HardLink\\Extra", nullptr, L"kept");
    ASSERT_EQ(dll.registerServer(), S_OK);
    std::wstring first = ClassPart(scratch.Dump());
    EXPECT_EQ(first.find(L"Stale"), std::wstring::npos);
    EXPECT_NE(first.find(L"Kestrune.HardLink\\Extra"), std::wstring::npos);
    RegDeleteKeyW(scratch.Classes(), L"Kestrune.HardLink\\Extra");
    first = ClassPart(scratch.Dump());
    EXPECT_EQ(first, expected);
    EXPECT_TRUE(KeyExists(scratch.Classes(), L"TypeLib\\{4E19DA74-5A13-4910-8F75-236B94656609}\\1.0"));
    EXPECT_TRUE(KeyExists(scratch.Classes(), L"Interface\\{411DEC6B-0C56-4FFA-8DA4-74E4D2774A25}"));
    ASSERT_EQ(dll.registerServer(), S_OK);
    EXPECT_EQ(ClassPart(scratch.Dump()), expected);

    // IDispatch of a class works once registered.
    IClassFactory* factory = nullptr;
    ASSERT_EQ(dll.getClassObject(CLSID_HardLink, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    factory->Release();
    ITypeInfo* info = nullptr;
    EXPECT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);
    if (info) info->Release();
    dispatch->Release();

    EXPECT_EQ(dll.unregisterServer(), S_OK);
    EXPECT_EQ(ClassPart(scratch.Dump()), L"CLSID\n") << "the CLSID key itself is never removed";
    EXPECT_FALSE(KeyExists(scratch.Classes(), L"TypeLib\\{4E19DA74-5A13-4910-8F75-236B94656609}\\1.0"));
    EXPECT_EQ(dll.unregisterServer(), S_OK);
    EXPECT_EQ(ClassPart(scratch.Dump()), L"CLSID\n");
}

// A copy of the built DLL under another name, loaded in its place.
class CopiedDll {
public:
    CopiedDll(const std::wstring& source, const std::wstring& folderName, const std::wstring& fileName) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + folderName;
        CreateDirectoryW(folder_.c_str(), nullptr);
        path_ = folder_ + L"\\" + fileName;
        CopyFileW(source.c_str(), path_.c_str(), FALSE);
    }
    ~CopiedDll() {
        if (module_) FreeLibrary(module_);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder_ + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do DeleteFileW((folder_ + L"\\" + found.cFileName).c_str());
            while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(folder_.c_str());
    }
    CopiedDll(const CopiedDll&) = delete;
    CopiedDll& operator=(const CopiedDll&) = delete;

    const std::wstring& Path() const { return path_; }
    const std::wstring& Folder() const { return folder_; }
    HRESULT Call(const char* exportName) {
        if (!module_) module_ = LoadLibraryW(path_.c_str());
        auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(module_, exportName));
        return function ? function() : E_FAIL;
    }

private:
    std::wstring folder_, path_;
    HMODULE module_ = nullptr;
};

std::wstring ServerPath(HKEY classesRoot, const wchar_t* clsid) {
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof value;
    RegGetValueW(classesRoot, (L"CLSID\\" + std::wstring(clsid) + L"\\InprocServer32").c_str(), nullptr, RRF_RT_REG_SZ,
                 nullptr, value, &size);
    return value;
}

bool RenameResourceType(const std::wstring& path, const std::wstring& from, const std::wstring& to) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr), done = 0;
    std::string bytes(size, '\0');
    ReadFile(file, &bytes[0], size, &done, nullptr);
    // A resource directory name is a 16-bit length and the UTF-16 characters.
    std::string pattern(1, static_cast<char>(from.size()));
    pattern += '\0';
    pattern.append(reinterpret_cast<const char*>(from.c_str()), from.size() * 2);
    size_t at = bytes.find(pattern);
    bool renamed = at != std::string::npos && bytes.find(pattern, at + 1) == std::string::npos;
    if (renamed) {
        memcpy(&bytes[at + 2], to.c_str(), to.size() * 2);
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
        WriteFile(file, bytes.data(), size, &done, nullptr);
    }
    CloseHandle(file);
    return renamed;
}

// A class key the registry refuses to change fails the registration; the run leaves nothing
// of its own, and the stale key stays as it was.
TEST_F(SelfRegistration, ARefusedClassKeyFailsAndLeavesNothingOfTheRun) {
    ScratchRegistry scratch(L"Refused");
    const std::wstring stale = L"CLSID\\" + std::wstring(classes[3].clsid);
    ASSERT_TRUE(scratch.Refuse(stale));
    EXPECT_EQ(dll.registerServer(), SELFREG_E_CLASS);
    EXPECT_EQ(ClassPart(scratch.Dump()), L"CLSID\n" + stale + L"\n" + stale + L" : stale = s 'x'\n");
    EXPECT_FALSE(KeyExists(scratch.Classes(), L"TypeLib\\{4E19DA74-5A13-4910-8F75-236B94656609}"));
}

TEST_F(SelfRegistration, APathWithAQuoteIsWrittenIntact) {
    ScratchRegistry scratch(L"Quote");
    CopiedDll copy(dll.Path(), L"kestrune it's here", L"Kestrune.dll");
    ASSERT_EQ(copy.Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(ServerPath(scratch.Classes(), classes[0].clsid), copy.Path());
    EXPECT_EQ(copy.Call("DllUnregisterServer"), S_OK);
}

TEST_F(SelfRegistration, AMissingTypeLibraryResourceFallsBackToATlbBesideTheFile) {
    ScratchRegistry scratch(L"Fallback");
    CopiedDll copy(dll.Path(), L"kestrune-fallback", L"Fallback.dll");
    // Renaming the resource type in the copy's resource directory hides its type library.
    // (Wine's UpdateResource does not delete resources.)
    ASSERT_TRUE(RenameResourceType(copy.Path(), L"TYPELIB", L"TYPELIX"));
    EXPECT_EQ(copy.Call("DllRegisterServer"), SELFREG_E_TYPELIB) << "no type library anywhere";
    EXPECT_EQ(ClassPart(scratch.Dump()), L"CLSID\n") << "the classes registered by the failing run are taken back";
    // The type library itself, copied out of the built DLL as a .tlb file beside the copy.
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx(dll.Path().c_str(), REGKIND_NONE, &library), S_OK);
    library->Release();
    HMODULE built = dll.module;
    HRSRC found = FindResourceW(built, MAKEINTRESOURCEW(1), L"TYPELIB");
    ASSERT_NE(found, nullptr);
    DWORD size = SizeofResource(built, found);
    const void* bytes = LockResource(LoadResource(built, found));
    std::wstring tlb = copy.Folder() + L"\\Fallback.tlb";
    HANDLE file = CreateFileW(tlb.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes, size, &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(copy.Call("DllRegisterServer"), S_OK);
    wchar_t registered[MAX_PATH] = {};
    DWORD length = sizeof registered;
    RegGetValueW(scratch.Classes(), L"TypeLib\\{4E19DA74-5A13-4910-8F75-236B94656609}\\1.0\\0\\win64", nullptr,
                 RRF_RT_REG_SZ, nullptr, registered, &length);
    EXPECT_EQ(std::wstring(registered), tlb);
    EXPECT_EQ(copy.Call("DllUnregisterServer"), S_OK);
}

TEST_F(SelfRegistration, Regsvr32RegistersAndUnregistersTheDll) {
    auto run = [&](const std::wstring& arguments) {
        std::wstring command = L"regsvr32.exe /s " + arguments + L" \"" + dll.Path() + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return static_cast<DWORD>(-1);
        WaitForSingleObject(process.hProcess, 60000);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return code;
    };
    ASSERT_EQ(run(L""), 0u);
    for (const ClassRow& row : classes) {
        SCOPED_TRACE(row.name);
        std::wstring server = L"CLSID\\" + std::wstring(row.clsid) + L"\\InprocServer32";
        wchar_t value[MAX_PATH] = {};
        DWORD size = sizeof value;
        EXPECT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, server.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(value), dll.Path());
        size = sizeof value;
        RegGetValueW(HKEY_CLASSES_ROOT, server.c_str(), L"ThreadingModel", RRF_RT_REG_SZ, nullptr, value, &size);
        EXPECT_EQ(std::wstring(value), L"Apartment");
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"Kestrune." + std::wstring(row.name) + L".1"));
    }
    ASSERT_EQ(run(L"/u"), 0u);
    for (const ClassRow& row : classes) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + std::wstring(row.clsid)));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Kestrune." + std::wstring(row.name)));
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
}

} // namespace
} // namespace kestrune::testing
