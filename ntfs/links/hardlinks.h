// Every path of a file on the volume that holds it, and the drive scan as a tree of nodes.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace kestrune {

constexpr uint8_t kScanFile = 0;
constexpr uint8_t kScanFolder = 1;

// One entry of a scan: a zero-filled heap block from the kernel table's GlobalAlloc.
struct ScanNode {
    wchar_t name[MAX_PATH];
    wchar_t folder[MAX_PATH]; // full path of the holding folder, ending in "\"
    uint8_t kind;
    uint8_t leadsElsewhere;   // folders only: a junction, mount or folder link, listed but not entered
    ScanNode* child;          // folders only: the folder's own list
    ScanNode* previous;
    ScanNode* next;
};

// Writes each path found and CR LF into `text` (textChars characters, terminator included), in the
// order of the flattened scan; paths that would not fit are dropped. Returns the number of paths
// written, or -1. Its memory does not grow with the drive, nor its time where the system lists a
// file's names.
// On a network drive whose server does not list the file's names: kLinksOnNetworkDrive.
int EnumerateHardLinks(const wchar_t* path, wchar_t* text, size_t textChars, HANDLE event);
constexpr int kLinksOnNetworkDrive = -2;
// The scan as a tree: a folder's list of nodes, flattened into one list of files, freed.
ScanNode* ScanFolderTree(const wchar_t* folder, const wchar_t* patterns, int recurse, HANDLE event);
ScanNode* FlattenFileList(ScanNode* list, HANDLE event);
void FreeScanTree(ScanNode* list);

// The run event: null or signalled means go on.
bool ShouldGoOn(HANDLE event);

} // namespace kestrune
