#include "tools/try/shell_items.h"

#include <shlwapi.h>

namespace kestrune::trying {

ShellItem::ShellItem(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        result_ = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    path_ = full;
    result_ = SHParseDisplayName(path_.c_str(), nullptr, &list_, 0, nullptr);
    if (FAILED(result_)) return;
    parent_ = ILClone(list_);
    if (!parent_) {
        result_ = E_OUTOFMEMORY;
        return;
    }
    ILRemoveLastID(parent_);
}

ShellItem::~ShellItem() {
    CoTaskMemFree(parent_);
    CoTaskMemFree(list_);
}

template <typename T> HRESULT ShellItem::UiObject(ComPtr<T>& out) const {
    if (FAILED(result_)) return result_;
    ComPtr<IShellFolder> folder;
    PCUITEMID_CHILD child = nullptr;
    HRESULT result = SHBindToParent(list_, IID_IShellFolder, folder.OutVoid(), &child);
    if (FAILED(result)) return result;
    return folder->GetUIObjectOf(nullptr, 1, &child, __uuidof(T), nullptr, out.OutVoid());
}

HRESULT ShellItem::DataObject(ComPtr<IDataObject>& out) const { return UiObject(out); }
HRESULT ShellItem::ShellMenu(ComPtr<IContextMenu>& out) const { return UiObject(out); }

bool ShellItem::IsDriveRoot() const { return path_.size() == 3 && path_[1] == L':' && path_[2] == L'\\'; }

std::vector<std::wstring> ShellItem::ClassKeys() const {
    if (IsDriveRoot()) return {L"Drive", L"Folder"};
    DWORD attributes = GetFileAttributesW(path_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {L"Directory", L"Folder", L"AllFilesystemObjects"};
    return {L"*", L"AllFilesystemObjects"};
}

} // namespace kestrune::trying
