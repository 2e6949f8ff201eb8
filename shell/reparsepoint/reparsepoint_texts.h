// The string table's texts of the reparse-point menu and its dialog (UiText, Say).
#pragma once
#include <windows.h>

namespace kestrune {

enum ReparsePointText : UINT {
    kCreateMenuText = 120,
    kInfoMenuText = 121,
    kCreateHelpText = 122,
    kInfoHelpText = 123,
    kBrowseTitle = 124,
    kOnlyEmptyFolders = 125,
    kCannotMountItself = 126,
    kAncestorWarning = 127,
    kMountSet = 128,
    kMountNotSet = 129,
    kReadFailed = 130,
    kRemoved = 131,
    kRemoveFailed = 132,
    kChanged = 133,
    kNotChanged = 134,
    kNotChangedRestored = 135,
    kNotChangedUnmounted = 136,
    kSymbolicLinkLabel = 137,
    kLinkRemoved = 138,
    kLinkRemoveFailed = 139,
    kNotLocalTarget = 144,
    kElevationDeclined = 147,
};

} // namespace kestrune
