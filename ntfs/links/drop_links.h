// The links of one drop, made in one folder: hard links, symbolic links or junctions, each under
// the dropped item's own name or, where that is taken, the first free name of its kind's series.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "ntfs/links/name_list.h"

namespace kestrune {

enum class LinkKind { Hard = 0, Symbolic = 1, Junction = 2 };

// Why an item got no link.
enum class LinkFailure {
    ItemMissing,   // the dropped item is gone
    NameTooLong,   // no free name of the series fits MAX_PATH
    FolderMissing, // the target folder is gone: the run stops there
    NoRight,       // symbolic links need a right the user lacks: the run stops, nothing was made
    Refused,       // the file system said no; the system error code tells why
};

// A kind's name series: the first prefix ("Hard link to ") and the numbered one ("Hard link (%d) to ").
struct LinkSeries {
    const wchar_t* first;
    const wchar_t* numbered;
};

// The caller's side of a run.
class LinkSink {
public:
    // Before each item, with the number done so far; false stops the run and what was made stays.
    virtual bool GoOn(size_t done, const wchar_t* item) = 0;
    virtual void Made(const wchar_t* item, const wchar_t* link, bool folder) = 0;
    virtual void Failed(const wchar_t* item, LinkFailure why, DWORD error) = 0;

protected:
    ~LinkSink() = default;
};

// Names in one folder as NTFS compares them (without regard to case), each with a number the
// caller keeps beside it. Lookups take the same time however many names there are.
class NameSet {
public:
    NameSet() = default;
    ~NameSet();
    NameSet(const NameSet&) = delete;
    NameSet& operator=(const NameSet&) = delete;

    // Adds every name `folder` lists; false when it cannot be listed or memory runs out.
    bool ReadFolder(const wchar_t* folder);
    // The number kept with `name`, or 0 when the set lacks it.
    uint32_t Find(const wchar_t* name) const;
    // Adds `name` or changes its number; false when memory runs out.
    bool Put(const wchar_t* name, uint32_t value);
    bool Put(const wchar_t* name, size_t length, uint32_t value);

private:
    struct Slot {
        uint32_t index; // 1 + the name's index in names_; 0: free
        uint32_t value;
    };
    const Slot* Lookup(const wchar_t* upper, uint32_t hash) const;
    bool Grow();

    NameList names_; // upper-cased
    Slot* slots_ = nullptr;
    size_t slotCount_ = 0;
};

// Makes a link of `kind` in `folder` (a full DOS path) for each of `items` (full DOS paths).
// Returns the number made, or -1 when the folder cannot be read or memory runs out before any.
int MakeDropLinks(LinkKind kind, const wchar_t* folder, const NameList& items, const LinkSeries& series,
                  LinkSink& sink);

// `path` as the kernel is given it: "\\?\D:\x" or "\\?\UNC\srv\share\x", so no name is rewritten.
// `out` holds MAX_PATH + 8 characters; false when `path` does not fit MAX_PATH.
constexpr size_t kLiteralPathChars = MAX_PATH + 8;
bool LiteralPath(const wchar_t* path, wchar_t* out);

} // namespace kestrune
