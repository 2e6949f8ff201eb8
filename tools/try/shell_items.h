// What Explorer hands a handler for one item: its item ID list, its parent's, the shell's own
// data object, and the class keys whose handler lists apply to it.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tools/try/com_ptr.h"

namespace kestrune::trying {

class ShellItem {
public:
    explicit ShellItem(const std::wstring& path);
    ~ShellItem();
    ShellItem(const ShellItem&) = delete;
    ShellItem& operator=(const ShellItem&) = delete;

    HRESULT Result() const { return result_; }
    const std::wstring& Path() const { return path_; }
    PCIDLIST_ABSOLUTE List() const { return list_; }
    PCIDLIST_ABSOLUTE Parent() const { return parent_; }
    // The shell folder's data object for the item alone (CF_HDROP among its formats).
    HRESULT DataObject(ComPtr<IDataObject>& out) const;
    // The shell folder's own context menu for the item (its "properties" verb, for instance).
    HRESULT ShellMenu(ComPtr<IContextMenu>& out) const;
    bool IsDriveRoot() const;
    // "Drive" or "Directory" first, then the keys every folder shares; "*" for a file.
    std::vector<std::wstring> ClassKeys() const;

private:
    template <typename T> HRESULT UiObject(ComPtr<T>& out) const;

    std::wstring path_;
    PIDLIST_ABSOLUTE list_ = nullptr;
    PIDLIST_ABSOLUTE parent_ = nullptr;
    HRESULT result_ = E_FAIL;
};

} // namespace kestrune::trying
