// Volume queries: free space, volume information, the drive list, and the error mode.
#include "tests/fake/fake_volume_model.h"

#include <algorithm>
#include <cstring>
#include <cwctype>

namespace kestrune::testing {
namespace {

BOOL WINAPI FakeGetDiskFreeSpaceExW(LPCWSTR root, PULARGE_INTEGER available, PULARGE_INTEGER total,
                                    PULARGE_INTEGER free) {
    Guard g;
    Located at;
    DWORD error = 0;
    if (!g.impl->LocatePath(root, true, at, error)) return Fail(error, FALSE);
    if (!at.record || !at.record->isDir) return Fail(ERROR_DIRECTORY, FALSE);
    if (available) available->QuadPart = 1ull << 30;
    if (total) total->QuadPart = 1ull << 32;
    if (free) free->QuadPart = 1ull << 30;
    return TRUE;
}

BOOL WINAPI FakeSetThreadErrorMode(DWORD mode, LPDWORD previous) {
    Guard g;
    if (mode & ~static_cast<DWORD>(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    DWORD& current = g.impl->threadErrorModes[GetCurrentThreadId()];
    if (previous) *previous = current;
    current = mode;
    return TRUE;
}

BOOL WINAPI FakeGetVolumeInformationW(LPCWSTR root, LPWSTR name, DWORD nameSize, LPDWORD serial,
                                      LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystem, DWORD fileSystemSize) {
    Guard g;
    std::wstring full;
    if (!root || !*root || root[wcslen(root) - 1] != L'\\' || !g.impl->Canonical(root, full))
        return Fail(ERROR_INVALID_NAME, FALSE);
    Located at;
    DWORD error = 0;
    if (!g.impl->Locate(full, true, at, error)) return Fail(error, FALSE);
    if (!at.record || at.record != at.record->volume->root) return Fail(ERROR_DIR_NOT_ROOT, FALSE);
    Volume* volume = at.record->volume;
    const std::wstring& fs = volume->options.fileSystem;
    if (fileSystem && fileSystemSize <= fs.size()) return Fail(ERROR_BAD_LENGTH, FALSE);
    if (name && nameSize) name[0] = L'\0';
    if (serial) *serial = volume->options.serial;
    if (maxComponent) *maxComponent = 255;
    if (flags) *flags = volume->IsNtfs() ? (FILE_NAMED_STREAMS | FILE_SUPPORTS_REPARSE_POINTS) : 0;
    if (fileSystem) wcscpy(fileSystem, fs.c_str());
    return TRUE;
}

DWORD WINAPI FakeGetLogicalDriveStringsW(DWORD size, LPWSTR buffer) {
    Guard g;
    std::vector<wchar_t> letters;
    for (auto& v : g.impl->volumes)
        if (v->letter) letters.push_back(v->letter);
    std::sort(letters.begin(), letters.end());
    std::wstring list;
    for (wchar_t letter : letters) {
        list += letter;
        list += L":\\";
        list += L'\0';
    }
    if (size <= list.size()) return static_cast<DWORD>(list.size() + 1);
    std::memcpy(buffer, list.data(), list.size() * sizeof(wchar_t));
    buffer[list.size()] = L'\0';
    return static_cast<DWORD>(list.size());
}

// A root ("D:\", "\\server\share\", a volume's GUID path) or a folder a volume is mounted on,
// always with its trailing backslash; null asks for the current folder's root.
UINT WINAPI FakeGetDriveTypeW(LPCWSTR root) {
    Guard g;
    std::wstring path = root ? root : Impl::RootPrefix(g.impl->currentDirectory) + L"\\";
    // A mapped network drive is remote; a SUBST letter has its target's drive's type.
    auto alias = path.size() == 3 && path[1] == L':' ? g.impl->aliases.find(static_cast<wchar_t>(towupper(path[0])))
                                                     : g.impl->aliases.end();
    if (alias != g.impl->aliases.end())
        return alias->second.rfind(L"\\\\", 0) == 0 ? DRIVE_REMOTE : FakeGetDriveTypeW(alias->second.substr(0, 3).c_str());
    Located at;
    DWORD error = 0;
    if (path.empty() || path.back() != L'\\' || !g.impl->LocatePath(path.c_str(), true, at, error) || !at.record ||
        at.record != at.record->volume->root)
        return DRIVE_NO_ROOT_DIR;
    return at.record->volume->uncRoot.empty() ? at.record->volume->options.driveType : DRIVE_REMOTE;
}

} // namespace

void BindVolumeCalls(KernelApi& api) {
    api.GetDiskFreeSpaceExW = FakeGetDiskFreeSpaceExW;
    api.SetThreadErrorMode = FakeSetThreadErrorMode;
    api.GetVolumeInformationW = FakeGetVolumeInformationW;
    api.GetLogicalDriveStringsW = FakeGetLogicalDriveStringsW;
    api.GetDriveTypeW = FakeGetDriveTypeW;
}

} // namespace kestrune::testing
