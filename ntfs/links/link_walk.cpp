// The drive scan, folder by folder: each folder is read once through one open, its matching files
// are written out in the scan's order, then its subfolders are walked in turn. Only the folders on
// the current path are held, each as the names of its subfolders.
#include "ntfs/links/folder_reader.h"
#include "ntfs/links/hardlinks.h"
#include "ntfs/links/link_target.h"
#include "ntfs/links/name_list.h"
#include "ntfs/reparse/reparse_record.h"
#include "ntfs/links/scan_order.h"
#include "ntfs/scoped.h"

#include <cwchar>

namespace kestrune {
namespace {

constexpr DWORD kListingBytes = 64 * 1024;
// Between polls of the run event while one folder is read.
constexpr int kEntriesPerPoll = 256;

enum class Step { GoOn, Stop, FoundAFile };

class Walk {
public:
    Walk(const LinkTarget* target, LinkText* text, HANDLE event, void* listing)
        : target_(target), text_(text), event_(event), listing_(listing) {}

    // Walks the folder in `path_` (ending in "\", `length` characters) and everything below it.
    Step Folder(size_t length, bool isRoot);

    wchar_t* Path() { return path_; }
    bool SawFile() const { return sawFile_; }

private:
    enum class Read { Done, Stopped, OutOfMemory };
    Read ReadFolder(size_t length, bool isRoot, NameList& subfolders, NameList& matches, bool& hasFile);
    bool Matches(const FolderEntry& entry, size_t length, bool& polled);

    const LinkTarget* target_; // null: only whether a file is there
    LinkText* text_;
    HANDLE event_;
    void* listing_;
    wchar_t path_[MAX_PATH];
    DWORD serial_ = 0; // of the walk's volume, once a folder listed by id has told it
    bool sawFile_ = false;
};

// "." and "..": the folder itself and its parent. Other names with a leading dot are real folders.
bool IsSelfOrParent(const FolderEntry& entry) {
    return entry.name[0] == L'.' && (entry.length == 1 || (entry.length == 2 && entry.name[1] == L'.'));
}

Walk::Read Walk::ReadFolder(size_t length, bool isRoot, NameList& subfolders, NameList& matches, bool& hasFile) {
    FolderReader reader(listing_, kListingBytes);
    if (!reader.Open(path_, length, isRoot, serial_)) return Read::Done; // a folder that cannot be read holds nothing
    FolderEntry entry;
    int sincePoll = 0;
    while (reader.Next(entry)) {
        if (++sincePoll == kEntriesPerPoll) {
            sincePoll = 0;
            if (!ShouldGoOn(event_)) return Read::Stopped;
        }
        if (entry.length == 0) continue;
        if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            // Junctions, mount points and folder links are not entered (a sync root's placeholders
            // are), and a folder is entered only when its path and a backslash fit MAX_PATH.
            if (IsSelfOrParent(entry) || LeadsElsewhere(entry.attributes, entry.reparseTag) ||
                length + entry.length + 1 >= MAX_PATH)
                continue;
            if (!subfolders.Add(entry.name, entry.length)) return Read::OutOfMemory;
            continue;
        }
        if (length + entry.length >= MAX_PATH) continue;
        hasFile = true;
        if (!target_) return Read::Done;
        bool polled = false;
        if (Matches(entry, length, polled) && !matches.Add(entry.name, entry.length))
            return Read::OutOfMemory;
        if (polled) {
            sincePoll = 0;
            if (!ShouldGoOn(event_)) return Read::Stopped;
        }
    }
    return Read::Done;
}

// A file symbolic link names another file, never this one; a deduplicated or cloud file is itself.
bool Walk::Matches(const FolderEntry& entry, size_t length, bool& polled) {
    if (LeadsElsewhere(entry.attributes, entry.reparseTag)) return false;
    if (entry.hasId) return target_->HasId(entry.id, serial_);
    // Read by the search: the file itself tells its index, and the open is worth a poll.
    polled = true;
    wmemcpy(path_ + length, entry.name, entry.length);
    path_[length + entry.length] = L'\0';
    bool named = target_->IsNamedBy(path_);
    path_[length] = L'\0';
    return named;
}

Step Walk::Folder(size_t length, bool isRoot) {
    NameList subfolders, matches;
    bool hasFile = false;
    Read read = ReadFolder(length, isRoot, subfolders, matches, hasFile);
    if (read == Read::Stopped) return Step::Stop;
    // Out of memory: this folder is passed over as one that cannot be read; its parent goes on.
    if (read == Read::OutOfMemory || !subfolders.Sort(CompareEntryNames) || !matches.Sort(CompareEntryNames))
        return Step::GoOn;
    sawFile_ = sawFile_ || hasFile;
    if (!target_ && hasFile) return Step::FoundAFile;

    for (size_t i = 0; i < matches.Count(); ++i) {
        wcscpy(path_ + length, matches[i]);
        text_->Add(path_);
    }
    for (size_t i = 0; i < subfolders.Count(); ++i) {
        size_t nameLength = wcslen(subfolders[i]);
        wcscpy(path_ + length, subfolders[i]);
        path_[length + nameLength] = L'\\';
        path_[length + nameLength + 1] = L'\0';
        Step step = Folder(length + nameLength + 1, false);
        path_[length] = L'\0';
        if (step != Step::GoOn) return step;
        if (!ShouldGoOn(event_)) return Step::Stop;
    }
    path_[length] = L'\0';
    return Step::GoOn;
}

} // namespace

LinkSearch WalkForLinks(const wchar_t* root, const LinkTarget* target, LinkText* text, HANDLE event) {
    size_t length = wcsnlen(root, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || root[length - 1] != L'\\') return LinkSearch::Failed;
    ScopedGlobal listing(kListingBytes);
    if (!listing.Valid()) return LinkSearch::Failed;
    Walk walk(target, text, event, listing.As<void>());
    wmemcpy(walk.Path(), root, length + 1);
    Step step = walk.Folder(length, true);
    // A scan that holds no file at all fails, as does one that was stopped.
    if (step == Step::Stop || !walk.SawFile()) return LinkSearch::Failed;
    return LinkSearch::Done;
}

} // namespace kestrune
