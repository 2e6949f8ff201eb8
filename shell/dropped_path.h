// The one path that a shell data object hands over as a file drop (CF_HDROP).
#pragma once
#include <windows.h>
#include <objidl.h>

#include "ntfs/links/name_list.h"

namespace kestrune {

// S_OK with the path; E_FAIL when the object has no file drop; E_INVALIDARG for none or several
// items, or a path that would be cut to fit MAX_PATH (it would name another item).
HRESULT GetSingleDroppedPath(IDataObject* data, wchar_t (&path)[MAX_PATH]);
// The same into `chars` characters: a long path ("\\?\" or longer than MAX_PATH) as long as it fits.
HRESULT GetSingleDroppedPath(IDataObject* data, wchar_t* path, UINT chars);

// Every path of the drop, in its order, into `paths` (emptied first). S_OK; E_FAIL as above;
// E_INVALIDARG for none, a path that would not fit MAX_PATH, or memory that runs out.
HRESULT GetDroppedPaths(IDataObject* data, NameList& paths);

} // namespace kestrune
