#include "ntfs/links/scan_order.h"

#include <cwchar>

namespace kestrune {
namespace {

// One component of a path: its characters, its length, and whether a folder follows it.
struct Component {
    const wchar_t* start;
    size_t length;
    bool last;
};

Component Take(const wchar_t*& at) {
    Component part{at, 0, false};
    while (at[part.length] && at[part.length] != L'\\') ++part.length;
    part.last = at[part.length] == L'\0';
    at += part.last ? part.length : part.length + 1;
    return part;
}

// The volume lists a folder by its upper-cased names (ordinal); ties of lstrcmpiW fall back to it.
int CompareInVolumeOrder(const Component& a, const Component& b) {
    int order = CompareStringOrdinal(a.start, static_cast<int>(a.length), b.start, static_cast<int>(b.length), TRUE);
    if (order != CSTR_EQUAL) return order - CSTR_EQUAL;
    return CompareStringOrdinal(a.start, static_cast<int>(a.length), b.start, static_cast<int>(b.length), FALSE) -
           CSTR_EQUAL;
}

} // namespace

int CompareEntryNames(const wchar_t* a, const wchar_t* b) { return lstrcmpiW(a, b); }

int ComparePathsInScanOrder(const wchar_t* a, const wchar_t* b) {
    constexpr size_t kDriveRootChars = 3;
    a += kDriveRootChars;
    b += kDriveRootChars;
    for (;;) {
        Component partA = Take(a), partB = Take(b);
        // A folder's own files come before anything of its subfolders.
        if (partA.last != partB.last) return partA.last ? -1 : 1;
        bool same = partA.length == partB.length && wmemcmp(partA.start, partB.start, partA.length) == 0;
        if (!same) {
            // Components are names of one folder: at most 255 characters on NTFS, MAX_PATH here.
            wchar_t nameA[MAX_PATH], nameB[MAX_PATH];
            wmemcpy(nameA, partA.start, partA.length);
            nameA[partA.length] = L'\0';
            wmemcpy(nameB, partB.start, partB.length);
            nameB[partB.length] = L'\0';
            int order = CompareEntryNames(nameA, nameB);
            return order != 0 ? order : CompareInVolumeOrder(partA, partB);
        }
        if (partA.last) return 0;
    }
}

} // namespace kestrune
