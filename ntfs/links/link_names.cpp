// The direct answer: the file system's own list of the file's names, each a path from its volume's
// root, put under the root the path reached the volume through and into the scan's order, and kept only where the scan would
// have found it.
#include "ntfs/links/folder_reader.h"
#include "ntfs/links/hardlinks.h"
#include "ntfs/kernel.h"
#include "ntfs/links/link_target.h"
#include "ntfs/links/name_list.h"
#include "ntfs/links/scan_order.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/scoped.h"

#include <cwchar>

namespace kestrune {
namespace {

// NTFS names a file by at most 32,767 characters.
constexpr DWORD kLongestName = 32768;

enum class NameRead { Name, Overlong, End, Refused, OutOfMemory };

// Reads the names one by one. A name too long for MAX_PATH is read into a block of its size only
// to move past it: no such path can be listed.
class LinkNames {
public:
    explicit LinkNames(const wchar_t* path) : path_(path) {}

    NameRead Next(wchar_t (&name)[MAX_PATH]) {
        DWORD length = MAX_PATH;
        if (Call(name, length)) return NameRead::Name;
        DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF && search_.Valid()) return NameRead::End;
        if (error != ERROR_MORE_DATA || length <= MAX_PATH || length > kLongestName) return NameRead::Refused;
        ScopedGlobal longer(length * sizeof(wchar_t));
        if (!longer.Valid()) return NameRead::OutOfMemory;
        return Call(longer.As<wchar_t>(), length) ? NameRead::Overlong : NameRead::Refused;
    }

private:
    BOOL Call(wchar_t* buffer, DWORD& length) {
        if (search_.Valid()) return Kernel().FindNextFileNameW(search_.Get(), &length, buffer);
        search_.Reset(Kernel().FindFirstFileNameW(path_, 0, &length, buffer));
        return search_.Valid();
    }

    const wchar_t* path_;
    ScopedFind search_;
};

// The root the volume was reached through ("D:\", "D:\mnt\"), then the name from the volume's root
// ("\a\b.txt") without its backslash, when it fits MAX_PATH.
bool MakeLine(const wchar_t* root, size_t rootLength, const wchar_t* name, wchar_t (&line)[MAX_PATH]) {
    size_t length = wcsnlen(name, MAX_PATH);
    if (name[0] != L'\\' || rootLength + length - 1 >= MAX_PATH) return false;
    wmemcpy(line, root, rootLength);
    wmemcpy(line + rootLength, name + 1, length);
    return true;
}

// Whether the scan would enter each folder on the line's way: it must open for listing as a folder
// (a folder that denies its listing holds nothing for the scan), and one that leads elsewhere (a
// junction, a mount point) keeps the scan out; a sync root's placeholders let it in.
bool ScanEntersFoldersOf(const wchar_t* line, size_t rootLength) {
    wchar_t folder[MAX_PATH];
    wcscpy(folder, line);
    for (wchar_t* slash = wcschr(folder + rootLength, L'\\'); slash; slash = wcschr(slash + 1, L'\\')) {
        *slash = L'\0';
        ScopedHandle opened(OpenFolderForListing(folder, false));
        *slash = L'\\';
        FILE_ATTRIBUTE_TAG_INFO info;
        if (!opened.Valid() ||
            !Kernel().GetFileInformationByHandleEx(opened.Get(), FileAttributeTagInfo, &info, sizeof info) ||
            !(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) || LeadsElsewhere(info.FileAttributes, info.ReparseTag))
            return false;
    }
    return true;
}

} // namespace

LinkSearch ListLinksByName(const wchar_t* path, const wchar_t* root, const LinkTarget& target, LinkText& text,
                           HANDLE event) {
    if (!Kernel().FindFirstFileNameW || !Kernel().FindNextFileNameW) return LinkSearch::Unavailable;
    size_t rootLength = wcsnlen(root, MAX_PATH);
    NameList lines;
    {
        LinkNames names(path);
        wchar_t name[MAX_PATH];
        for (;;) {
            NameRead read = names.Next(name);
            if (read == NameRead::End) break;
            // Refused at any point: the list is incomplete, and the scan answers instead.
            if (read == NameRead::Refused) return LinkSearch::Unavailable;
            if (read == NameRead::OutOfMemory) return LinkSearch::Failed;
            wchar_t line[MAX_PATH];
            if (read == NameRead::Name && MakeLine(root, rootLength, name, line) && !lines.Add(line, wcslen(line)))
                return LinkSearch::Failed;
            if (!ShouldGoOn(event)) return LinkSearch::Failed;
        }
    }
    if (!lines.Sort(ComparePathsInScanOrder)) return LinkSearch::Failed;
    for (size_t i = 0; i < lines.Count(); ++i) {
        // The name may be gone, or replaced, since it was listed: each path is checked as the scan
        // checks a file it opens.
        if (ScanEntersFoldersOf(lines[i], rootLength) && target.IsNamedBy(lines[i])) text.Add(lines[i]);
        if (!ShouldGoOn(event)) return LinkSearch::Failed;
    }
    return LinkSearch::Done;
}

} // namespace kestrune
