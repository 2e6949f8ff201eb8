#include "ntfs/links/drop_links.h"

#include <cwchar>

#include "ntfs/kernel.h"
#include "ntfs/links/folder_reader.h"
#include "ntfs/paths.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/scoped.h"
#include "shell/bounded_text.h"

namespace kestrune {
namespace {

constexpr size_t kFirstSlots = 1024;
constexpr DWORD kSymbolicLinkToFolder = 0x1;  // SYMBOLIC_LINK_FLAG_DIRECTORY
constexpr DWORD kUnprivilegedCreate = 0x2;    // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
constexpr int kRacesPerItem = 8;              // names taken by someone else while the run goes on

constexpr DWORD kListingBytes = 64 * 1024;

// Upper-cases `length` characters of a name as NTFS compares them into `out` (MAX_PATH); false when
// it does not fit. Plain ASCII names, the common case, need no call.
bool UpperName(const wchar_t* name, size_t length, wchar_t (&out)[MAX_PATH], uint32_t& hash) {
    if (length >= MAX_PATH) return false;
    bool ascii = true;
    for (size_t i = 0; i < length; ++i) {
        wchar_t c = name[i];
        ascii = ascii && c < 0x80;
        out[i] = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
    }
    out[length] = L'\0';
    if (!ascii) CharUpperBuffW(out, static_cast<DWORD>(length));
    hash = 2166136261u;
    for (size_t i = 0; i < length; ++i) hash = (hash ^ out[i]) * 16777619u;
    return true;
}

const wchar_t* LastName(const wchar_t* path) {
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

// The place a folder really lies: "\\?\Volume{...}\a\b" (no trailing backslash but at the root),
// through any junction or mount above it. False where the system cannot tell (a share).
bool FinalFolder(const wchar_t* folder, wchar_t (&out)[kLiteralPathChars]) {
    wchar_t literal[kLiteralPathChars];
    if (!LiteralPath(folder, literal)) return false;
    ScopedHandle opened(Kernel().CreateFileW(literal, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!opened.Valid()) return false;
    DWORD length = Kernel().GetFinalPathNameByHandleW(opened.Get(), out, kLiteralPathChars, VOLUME_NAME_GUID);
    return length > 0 && length < kLiteralPathChars && wcsncmp(out, L"\\\\?\\Volume{", 11) == 0;
}

// The volume part of a final path, "\\?\Volume{...}", and what follows it.
size_t VolumePartLength(const wchar_t* final) {
    const wchar_t* close = wcschr(final, L'}');
    return close ? static_cast<size_t>(close - final + 1) : 0;
}

// Appends the next component of `path` from `at` (past backslashes); false at the end.
bool NextComponent(const wchar_t*& at, const wchar_t*& start, size_t& length) {
    while (*at == L'\\') ++at;
    if (!*at) return false;
    start = at;
    while (*at && *at != L'\\') ++at;
    length = static_cast<size_t>(at - start);
    return true;
}

// The target a symbolic link in `linkFolder` keeps for `item`, whose folder lies at `itemFolder`
// (both final paths): relative on the same volume ("..\docs\a.txt"), so the pair survives a move of
// their common folder or a new drive letter; else the item's absolute path.
bool SymbolicTarget(const wchar_t* linkFolder, const wchar_t* itemFolder, const wchar_t* item, wchar_t (&out)[MAX_PATH]) {
    size_t volume = VolumePartLength(linkFolder);
    BoundedText text(out, MAX_PATH);
    if (!volume || volume != VolumePartLength(itemFolder) || _wcsnicmp(linkFolder, itemFolder, volume) != 0) {
        text.Append(item);
        return text.Fits();
    }
    const wchar_t *a = linkFolder + volume, *b = itemFolder + volume;
    const wchar_t *aStart, *bStart;
    size_t aLength, bLength;
    // Past the common folders: what remains of the link's folder is climbed, the item's descended.
    for (;;) {
        const wchar_t *aNext = a, *bNext = b;
        bool aMore = NextComponent(aNext, aStart, aLength), bMore = NextComponent(bNext, bStart, bLength);
        if (!aMore || !bMore ||
            CompareStringOrdinal(aStart, static_cast<int>(aLength), bStart, static_cast<int>(bLength), TRUE) != CSTR_EQUAL)
            break;
        a = aNext;
        b = bNext;
    }
    while (NextComponent(a, aStart, aLength)) text.Append(L"..\\");
    wchar_t part[MAX_PATH];
    while (NextComponent(b, bStart, bLength)) {
        if (bLength >= MAX_PATH) return false;
        wmemcpy(part, bStart, bLength);
        part[bLength] = L'\0';
        text.Append(part).Append(L"\\");
    }
    text.Append(LastName(item));
    return text.Fits();
}

// One run: the folder's names, the series, the state of the symbolic-link calls.
class LinkRun {
public:
    LinkRun(LinkKind kind, const wchar_t* folder, const LinkSeries& series, LinkSink& sink)
        : kind_(kind), folder_(folder), series_(series), sink_(sink) {}

    bool Start() {
        if (!taken_.ReadFolder(folder_)) return false;
        if (kind_ == LinkKind::Symbolic) finalKnown_ = FinalFolder(folder_, finalFolder_);
        return true;
    }

    // False: the run stops.
    bool Make(const wchar_t* item) {
        const wchar_t* name = LastName(item);
        wchar_t itemLiteral[kLiteralPathChars];
        if (!LiteralPath(item, itemLiteral)) return Fail(item, LinkFailure::NameTooLong, 0);
        bool folder = false;
        if (kind_ != LinkKind::Hard) {
            DWORD attributes = Kernel().GetFileAttributesW(itemLiteral);
            if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(item, LinkFailure::ItemMissing, GetLastError());
            folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        }
        wchar_t target[MAX_PATH];
        if (kind_ == LinkKind::Symbolic && !SymbolicTargetOf(item, target)) return Fail(item, LinkFailure::NameTooLong, 0);
        for (int race = 0; race < kRacesPerItem; ++race) {
            wchar_t link[MAX_PATH], literal[kLiteralPathChars], leaf[MAX_PATH];
            if (!FreeName(name, leaf, link) || !LiteralPath(link, literal)) return Fail(item, LinkFailure::NameTooLong, 0);
            DWORD error = Create(literal, itemLiteral, item, target, folder);
            if (error == ERROR_SUCCESS) {
                if (!taken_.Put(leaf, 1)) return false;
                ++made_;
                sink_.Made(item, link, folder || kind_ == LinkKind::Junction);
                return true;
            }
            if (error == ERROR_PRIVILEGE_NOT_HELD) {
                sink_.Failed(item, LinkFailure::NoRight, error);
                return false;
            }
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return Refused(item, itemLiteral, error);
            // Someone took the name since the folder was read: the next one of the series.
            if (!taken_.Put(leaf, 1)) return false;
        }
        return Fail(item, LinkFailure::Refused, ERROR_ALREADY_EXISTS);
    }

    int MadeCount() const { return made_; }

private:
    bool Fail(const wchar_t* item, LinkFailure why, DWORD error) {
        sink_.Failed(item, why, error);
        return true;
    }

    // A refusal that names a missing path is told as the item or the folder gone; the latter ends the run.
    bool Refused(const wchar_t* item, const wchar_t* itemLiteral, DWORD error) {
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return Fail(item, LinkFailure::Refused, error);
        if (!IsExistingFolder(folder_)) {
            sink_.Failed(item, LinkFailure::FolderMissing, error);
            return false;
        }
        return Kernel().GetFileAttributesW(itemLiteral) == INVALID_FILE_ATTRIBUTES ? Fail(item, LinkFailure::ItemMissing, error)
                                                                                  : Fail(item, LinkFailure::Refused, error);
    }

    // The item's folder is read once for a row of items from the same folder.
    bool SymbolicTargetOf(const wchar_t* item, wchar_t (&target)[MAX_PATH]) {
        size_t folderLength = static_cast<size_t>(LastName(item) - item);
        if (folderLength >= MAX_PATH) return false;
        if (!itemFolderRead_ || folderLength != wcslen(itemFolder_) || _wcsnicmp(itemFolder_, item, folderLength) != 0) {
            wmemcpy(itemFolder_, item, folderLength);
            itemFolder_[folderLength] = L'\0';
            itemFolderRead_ = true;
            itemFinalKnown_ = FinalFolder(itemFolder_, itemFinal_);
        }
        if (!finalKnown_ || !itemFinalKnown_) {
            BoundedText text(target, MAX_PATH);
            return text.Append(item).Fits();
        }
        return SymbolicTarget(finalFolder_, itemFinal_, item, target);
    }

    // The first name of the series that the folder does not hold. Each item name remembers the
    // number it reached, so a row of equal names, or thousands of names taken, costs no rescans.
    bool FreeName(const wchar_t* name, wchar_t (&leaf)[MAX_PATH], wchar_t (&link)[MAX_PATH]) {
        // A free first name, the common case, needs no look at the numbers reached.
        uint32_t counter = taken_.Find(name) ? tried_.Find(name) : 1;
        if (counter == 0) counter = 2;
        for (;; ++counter) {
            if (counter == UINT32_MAX) return false;
            wchar_t prefix[MAX_PATH] = {};
            if (counter == 2) wcsncpy(prefix, series_.first, MAX_PATH - 1);
            if (counter > 2 && swprintf(prefix, MAX_PATH, series_.numbered, static_cast<int>(counter - 1)) < 0) return false;
            BoundedText text(leaf, MAX_PATH);
            if (!text.Append(prefix).Append(name).Fits()) return false;
            if (!taken_.Find(leaf)) break;
        }
        if (counter > 1 && !tried_.Put(name, counter)) return false;
        BoundedText text(link, MAX_PATH);
        return text.AppendFolder(folder_).Append(leaf).Fits();
    }

    // ERROR_SUCCESS or why not.
    DWORD Create(const wchar_t* link, const wchar_t* itemLiteral, const wchar_t* item, const wchar_t* target, bool folder) {
        if (kind_ == LinkKind::Hard)
            return Kernel().CreateHardLinkW(link, itemLiteral, nullptr) ? ERROR_SUCCESS : GetLastError();
        if (kind_ == LinkKind::Junction) {
            if (!Kernel().CreateDirectoryW(link, nullptr)) return GetLastError();
            // Junctions keep the DOS path of their target; a failed record takes its folder with it.
            if (SetJunction(link, item) == 0) return ERROR_SUCCESS;
            DWORD error = GetLastError();
            Kernel().RemoveDirectoryW(link);
            return error ? error : ERROR_INVALID_FUNCTION;
        }
        DWORD flags = (folder ? kSymbolicLinkToFolder : 0) | (unprivileged_ ? kUnprivilegedCreate : 0);
        BOOLEAN made = Kernel().CreateSymbolicLinkW(link, target, flags);
        if (!made && unprivileged_ && GetLastError() == ERROR_INVALID_PARAMETER) {
            // Windows before 10 1703 knows no unprivileged flag: without it from now on.
            unprivileged_ = false;
            made = Kernel().CreateSymbolicLinkW(link, target, flags & ~kUnprivilegedCreate);
        }
        if (!made) return GetLastError();
        // A system that answers success and makes nothing (Wine on its own drives) is told as a refusal.
        return Kernel().GetFileAttributesW(link) != INVALID_FILE_ATTRIBUTES ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
    }

    LinkKind kind_;
    const wchar_t* folder_;
    const LinkSeries& series_;
    LinkSink& sink_;
    NameSet taken_; // upper-cased names in the folder
    NameSet tried_; // item names with the number of the series they reached
    bool unprivileged_ = true;
    int made_ = 0;
    bool finalKnown_ = false, itemFolderRead_ = false, itemFinalKnown_ = false;
    wchar_t finalFolder_[kLiteralPathChars] = {};
    wchar_t itemFolder_[MAX_PATH] = {};
    wchar_t itemFinal_[kLiteralPathChars] = {};
};

} // namespace

NameSet::~NameSet() {
    if (slots_) Kernel().GlobalFree(slots_);
}

const NameSet::Slot* NameSet::Lookup(const wchar_t* upper, uint32_t hash) const {
    size_t mask = slotCount_ - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (!slot.index || wcscmp(names_[slot.index - 1], upper) == 0) return &slot;
    }
}

bool NameSet::Grow() {
    size_t count = slotCount_ ? slotCount_ * 2 : kFirstSlots;
    auto* larger = static_cast<Slot*>(Kernel().GlobalAlloc(GPTR, count * sizeof(Slot)));
    if (!larger) return false;
    Slot* old = slots_;
    size_t oldCount = slotCount_;
    slots_ = larger;
    slotCount_ = count;
    for (size_t i = 0; i < oldCount; ++i) {
        if (!old[i].index) continue;
        uint32_t hash = 2166136261u;
        for (const wchar_t* c = names_[old[i].index - 1]; *c; ++c) hash = (hash ^ *c) * 16777619u;
        *const_cast<Slot*>(Lookup(names_[old[i].index - 1], hash)) = old[i];
    }
    if (old) Kernel().GlobalFree(old);
    return true;
}

uint32_t NameSet::Find(const wchar_t* name) const {
    wchar_t upper[MAX_PATH];
    uint32_t hash;
    if (!slotCount_ || !UpperName(name, wcsnlen(name, MAX_PATH), upper, hash)) return 0;
    return Lookup(upper, hash)->value;
}

bool NameSet::Put(const wchar_t* name, uint32_t value) { return Put(name, wcsnlen(name, MAX_PATH), value); }

bool NameSet::Put(const wchar_t* name, size_t length, uint32_t value) {
    wchar_t upper[MAX_PATH];
    uint32_t hash;
    if (!UpperName(name, length, upper, hash)) return true; // no such name can be made here
    // At most half full, so a free slot ends every lookup soon.
    if ((names_.Count() + 1) * 2 > slotCount_ && !Grow()) return false;
    auto* slot = const_cast<Slot*>(Lookup(upper, hash));
    if (!slot->index) {
        if (!names_.Add(upper, length)) return false;
        slot->index = static_cast<uint32_t>(names_.Count());
    }
    slot->value = value;
    return true;
}

// Through one open of the folder, in blocks of many entries where the volume lists them so.
bool NameSet::ReadFolder(const wchar_t* folder) {
    wchar_t path[MAX_PATH];
    BoundedText text(path, MAX_PATH);
    if (!text.AppendFolder(folder).Fits()) return false;
    ScopedGlobal listing(kListingBytes);
    if (!listing.Valid()) return false;
    FolderReader reader(listing.As<void>(), kListingBytes);
    DWORD serial = 0;
    // As a root is opened: a target that is a junction or a mount point is listed where it leads.
    if (!reader.Open(path, wcslen(path), true, serial)) return GetLastError() == ERROR_FILE_NOT_FOUND;
    FolderEntry entry;
    while (reader.Next(entry))
        if (!Put(entry.name, entry.length, 1)) return false;
    return true;
}

bool LiteralPath(const wchar_t* path, wchar_t* out) {
    size_t length = BoundedPathLength(path);
    if (length >= MAX_PATH) return false;
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) {
        wmemcpy(out, path, length + 1);
    } else if (path[0] == L'\\' && path[1] == L'\\') {
        wcscpy(out, L"\\\\?\\UNC");
        wmemcpy(out + 7, path + 1, length);
    } else {
        wcscpy(out, L"\\\\?\\");
        wmemcpy(out + 4, path, length + 1);
    }
    return true;
}

int MakeDropLinks(LinkKind kind, const wchar_t* folder, const NameList& items, const LinkSeries& series,
                  LinkSink& sink) {
    LinkRun run(kind, folder, series, sink);
    if (!run.Start()) return -1;
    for (size_t i = 0; i < items.Count(); ++i) {
        if (!sink.GoOn(i, items[i])) break;
        if (!run.Make(items[i])) break;
    }
    return run.MadeCount();
}

} // namespace kestrune
