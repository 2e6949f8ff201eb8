// What the two overlays ask of an item Explorer shows, at the least cost: the attributes Explorer
// passes in (0 when it passes none) decide first, and only a plain local file is asked its links.
#pragma once
#include <windows.h>

namespace kestrune {

// Contents of such items live elsewhere: opening them may fetch them over the network.
constexpr DWORD kRecallOnOpenAttribute = 0x00040000;       // FILE_ATTRIBUTE_RECALL_ON_OPEN
constexpr DWORD kRecallOnDataAccessAttribute = 0x00400000; // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS

// 1 for a local file with two or more links. Folders, reparse points, offline and recall items, and
// anything on a network drive are 0 without a look at the file.
int HasHardLinkOverlay(const wchar_t* path, DWORD attributes);
// 1 for a junction to a folder; volume mount points and items without a reparse point are 0. The tag
// is read without an open; network paths are never asked, cloud placeholders never opened.
int HasJunctionOverlay(const wchar_t* path, DWORD attributes);

} // namespace kestrune
