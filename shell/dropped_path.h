// The one item of a selection or drop that the shell hands over as CF_HDROP.
#pragma once
#include <windows.h>
#include <objidl.h>

namespace kestrune {

// S_OK with the item's path; E_FAIL when the data object cannot deliver the list; E_INVALIDARG
// unless it holds exactly one item whose path fits MAX_PATH (a longer one would be cut to
// another path, so it is refused).
HRESULT GetSingleDroppedPath(IDataObject* data, wchar_t (&path)[MAX_PATH]);

} // namespace kestrune
