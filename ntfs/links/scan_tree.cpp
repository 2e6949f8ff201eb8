// The drive scan as a tree of nodes: a folder read into a sorted list, its subfolders recursively,
// then flattened into one list of files.
#include "ntfs/links/hardlinks.h"

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/scoped.h"

#include <cwchar>

namespace kestrune {
namespace {

constexpr int kMaxPatterns = 10;
constexpr size_t kMaxPatternChars = 20;
constexpr size_t kMaxPatternListChars = 199;

struct PatternList {
    wchar_t items[kMaxPatterns][kMaxPatternChars + 1] = {};
    int count = 0;
};

// Splits at ";"; a pattern over 20 characters is refused, and so is anything past the
// first 199 characters or the tenth pattern.
PatternList ParsePatterns(const wchar_t* patterns) {
    PatternList list;
    size_t total = wcsnlen(patterns, kMaxPatternListChars);
    size_t start = 0;
    while (start <= total && list.count < kMaxPatterns) {
        size_t end = start;
        while (end < total && patterns[end] != L';') ++end;
        size_t length = end - start;
        if (length > 0 && length <= kMaxPatternChars) {
            wmemcpy(list.items[list.count], patterns + start, length);
            list.items[list.count][length] = L'\0';
            ++list.count;
        }
        start = end + 1;
    }
    return list;
}

bool IsNamedLikeDotFolder(const wchar_t* name) { return name[0] == L'.'; }

ScanNode* NewNode(const wchar_t* folder, const wchar_t* name, uint8_t kind) {
    auto* node = static_cast<ScanNode*>(Kernel().GlobalAlloc(GPTR, sizeof(ScanNode)));
    if (!node) return nullptr;
    wcscpy(node->folder, folder);
    wcscpy(node->name, name);
    node->kind = kind;
    return node;
}

// A folder's list under construction: folders first, then files, each in name order.
// New nodes are placed by walking back from the end, which costs nothing for the
// already ordered output of an NTFS directory search.
struct FolderList {
    ScanNode* first = nullptr;
    ScanNode* last = nullptr;
    ScanNode* lastFolder = nullptr;

    void InsertAfter(ScanNode* position, ScanNode* node) {
        node->previous = position;
        node->next = position ? position->next : first;
        if (node->next)
            node->next->previous = node;
        else
            last = node;
        if (position)
            position->next = node;
        else
            first = node;
    }

    void AddFile(ScanNode* node) {
        ScanNode* position = last;
        while (position && position->kind == kScanFile && lstrcmpiW(position->name, node->name) > 0)
            position = position->previous;
        InsertAfter(position, node);
    }

    void AddFolder(ScanNode* node) {
        ScanNode* position = lastFolder;
        while (position && lstrcmpiW(position->name, node->name) > 0) position = position->previous;
        InsertAfter(position, node);
        if (!lastFolder || position == lastFolder) lastFolder = node;
    }
};

enum class PassResult { Done, Stopped, OutOfMemory };

// One directory search of `folder` for `pattern`, adding the entries of one kind.
PassResult SearchFolder(const wchar_t* folder, const wchar_t* pattern, uint8_t kind, FolderList& list,
                        HANDLE event) {
    size_t folderLength = wcslen(folder);
    if (folderLength + wcslen(pattern) >= MAX_PATH) return PassResult::Done;
    wchar_t search[MAX_PATH];
    wcscpy(search, folder);
    wcscat(search, pattern);
    WIN32_FIND_DATAW found;
    ScopedFind handle(Kernel().FindFirstFileW(search, &found));
    if (!handle.Valid()) return PassResult::Done;
    do {
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (kind == kScanFile ? isFolder : (!isFolder || IsNamedLikeDotFolder(found.cFileName))) continue;
        // The full path of every node must fit MAX_PATH.
        if (folderLength + wcslen(found.cFileName) >= MAX_PATH) continue;
        ScanNode* node = NewNode(folder, found.cFileName, kind);
        if (!node) return PassResult::OutOfMemory;
        node->leadsElsewhere = LeadsElsewhere(found.dwFileAttributes, found.dwReserved0);
        if (kind == kScanFile)
            list.AddFile(node);
        else
            list.AddFolder(node);
        if (!ShouldGoOn(event)) return PassResult::Stopped;
    } while (Kernel().FindNextFileW(handle.Get(), &found));
    return PassResult::Done;
}

ScanNode* Discard(FolderList& list) {
    FreeScanTree(list.first);
    return nullptr;
}

} // namespace

ScanNode* ScanFolderTree(const wchar_t* folder, const wchar_t* patterns, int recurse, HANDLE event) {
    if (BoundedPathLength(folder) >= MAX_PATH || !patterns) return nullptr;
    wchar_t full[MAX_PATH];
    if (!GetFullPath(folder, full)) return nullptr;
    AddTrailingBackslash(full);
    if (full[wcslen(full) - 1] != L'\\') return nullptr;
    // Folders are read by their full paths, never through the process-wide current directory.
    DWORD attributes = Kernel().GetFileAttributesW(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;

    PatternList list = ParsePatterns(patterns);
    FolderList nodes;
    for (int i = 0; i < list.count; ++i) {
        PassResult result = SearchFolder(full, list.items[i], kScanFile, nodes, event);
        if (result != PassResult::Done) return Discard(nodes);
    }
    if (SearchFolder(full, L"*.*", kScanFolder, nodes, event) != PassResult::Done) return Discard(nodes);

    if (recurse == 1) {
        for (ScanNode* node = nodes.first; node && node->kind == kScanFolder; node = node->next) {
            if (node->leadsElsewhere) continue;
            wchar_t path[MAX_PATH];
            wcscpy(path, node->folder);
            wcscat(path, node->name);
            node->child = ScanFolderTree(path, patterns, 1, event);
            if (!ShouldGoOn(event)) return Discard(nodes);
        }
    }
    if (!ShouldGoOn(event)) return Discard(nodes);
    return nodes.first;
}

ScanNode* FlattenFileList(ScanNode* list, HANDLE event) {
    if (!list) return nullptr;
    ScanNode* first = list;
    ScanNode* tail = list;
    while (tail->next) tail = tail->next;
    for (ScanNode* node = first; node;) {
        if (!ShouldGoOn(event)) {
            FreeScanTree(first);
            return nullptr;
        }
        if (node->kind == kScanFile) {
            node = node->next;
            continue;
        }
        if (node->child) {
            ScanNode* flat = FlattenFileList(node->child, event);
            node->child = nullptr;
            if (flat) {
                tail->next = flat;
                flat->previous = tail;
                while (tail->next) tail = tail->next;
            }
        }
        ScanNode* next = node->next;
        if (node->previous)
            node->previous->next = next;
        else
            first = next;
        if (next)
            next->previous = node->previous;
        if (tail == node) tail = node->previous;
        Kernel().GlobalFree(node);
        node = next;
    }
    return first;
}

void FreeScanTree(ScanNode* list) {
    while (list) {
        ScanNode* next = list->next;
        ScanNode* child = list->child;
        Kernel().GlobalFree(list);
        FreeScanTree(child);
        list = next;
    }
}

} // namespace kestrune
