// ReparsePoint: the folder menu that mounts a folder or a drive on an empty NTFS folder and shows
// or changes an existing mount, and the overlay on junction folders.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include "kestrune_h.h"
#include "server/dual_interface.h"
#include "server/interface_table.h"
#include "server/type_infos.h"
#include "shell/command_verb.h"

namespace kestrune {

class ReparsePointObject : public DualInterface<IReparsePoint, &reparsePointTypeInfo>,
                           public IShellExtInit,
                           public IContextMenu,
                           public IShellIconOverlayIdentifier {
public:
    static const InterfaceTable<ReparsePointObject> interfaces;

    // IShellExtInit (reparsepoint_menu.cpp)
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId) override;

    // IContextMenu (reparsepoint_menu.cpp)
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand, UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT* reserved, CHAR* name, UINT chars) override;

    // IShellIconOverlayIdentifier (reparsepoint_overlay.cpp)
    STDMETHODIMP IsMemberOf(LPCWSTR path, DWORD attributes) override;
    STDMETHODIMP GetOverlayInfo(LPWSTR iconFile, int chars, int* index, DWORD* flags) override;
    STDMETHODIMP GetPriority(int* priority) override;

    // The create flow (mount_flow.cpp): browse for a target and mount it on the empty folder.
    void CreateMountFlow(HWND owner);

    // The information dialog's two flows (mount_change.cpp); `dialog` owns their messages.
    void RemoveMountFlow(HWND dialog);
    void ChangeMountFlow(HWND dialog, const wchar_t* shownTarget);

    const wchar_t* FolderPath() const { return folderPath_; }
    // A message box of string `text` under the library's title.
    int Say(HWND owner, UINT text, UINT style) const;

protected:
    ReparsePointObject();
    ~ReparsePointObject() = default;

private:
    // Whether the folder carries a mount, a folder link or a reparse point of unreadable tag now;
    // unreadable attributes count as one.
    bool FolderHasReparsePoint() const;
    // The menu's one item for the folder as it is now.
    MenuCommand ItemCommand() const;
    // The browser until a target that is not the folder itself, and not above it unless the
    // user agrees (mount_flow.cpp). False when the user cancels.
    bool ChooseTarget(HWND owner, const wchar_t* initial, wchar_t (&target)[MAX_PATH]);

    wchar_t caption_[100];
    wchar_t folderPath_[MAX_PATH];
};

// A drive root (E:\) mounts that drive's volume; anything else becomes a junction. 0 on success.
int MountTarget(const wchar_t* folder, const wchar_t* target);

} // namespace kestrune
