// Why a handler offers nothing: Explorer says nothing then, but someone trying the handlers by
// hand wants the reason the handlers check for, in words.
#include <windows.h>

#include <string>

#include "tools/try/commands.h"

namespace kestrune::trying {
namespace {

std::wstring VolumeOf(const std::wstring& path) {
    wchar_t volume[MAX_PATH] = {};
    return GetVolumePathNameW(path.c_str(), volume, MAX_PATH) ? volume : L"";
}

// "K:\ is a FAT32 volume, not NTFS", or empty for an NTFS volume (or one that cannot be read).
std::wstring NotNtfs(const std::wstring& path) {
    std::wstring volume = VolumeOf(path);
    wchar_t system[MAX_PATH + 1] = {};
    if (volume.empty() || !GetVolumeInformationW(volume.c_str(), nullptr, 0, nullptr, nullptr, nullptr, system, MAX_PATH + 1))
        return L"";
    if (lstrcmpiW(system, L"NTFS") == 0) return L"";
    return volume + L" is a " + system + L" volume, not NTFS: it has no hard links, streams or mount points";
}

std::wstring TooLong(const std::wstring& path) {
    if (path.size() < MAX_PATH) return L"";
    return L"the path is too long (" + std::to_wstring(path.size()) + L" characters; the handlers take at most " +
           std::to_wstring(MAX_PATH - 1) + L"): " + path;
}

std::wstring FirstReason(std::initializer_list<std::wstring> reasons) {
    for (const std::wstring& reason : reasons)
        if (!reason.empty()) return reason;
    return L"";
}

} // namespace

// A drop offers a hard link (a file on the folder's volume), a symbolic link (anything) or a junction
// (a local folder): nothing at all only where the folder cannot take a link of any kind.
std::wstring WhyNoDropOffer(const std::wstring& file, const std::wstring& folder) {
    std::wstring name = file.substr(file.find_last_of(L'\\') + 1);
    std::wstring link = folder + (folder.empty() || folder.back() == L'\\' ? L"" : L"\\") + name;
    std::wstring root = VolumeOf(link);
    bool remote = folder.rfind(L"\\\\", 0) == 0 || (!root.empty() && GetDriveTypeW(root.c_str()) == DRIVE_REMOTE);
    std::wstring network = remote ? folder + L" is on a network drive: links are made in local NTFS folders only" : L"";
    return FirstReason({TooLong(file), TooLong(link), network, NotNtfs(link)});
}

std::wstring WhyNoMenuOffer(const std::wstring& folder) {
    std::wstring pattern = folder + (folder.empty() || folder.back() == L'\\' ? L"*" : L"\\*");
    std::wstring notEmpty;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (lstrcmpW(entry.cFileName, L".") != 0 && lstrcmpW(entry.cFileName, L"..") != 0)
                notEmpty = folder + L" is not empty (it holds " + entry.cFileName +
                           L"): only an empty folder can become a mount point";
        } while (notEmpty.empty() && FindNextFileW(search, &entry));
        FindClose(search);
    }
    return FirstReason({TooLong(folder), NotNtfs(folder), notEmpty});
}

} // namespace kestrune::trying
