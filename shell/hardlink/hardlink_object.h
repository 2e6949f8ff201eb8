// HardLink: the right-drag "create a hard link here" handler and the overlay on files with 2+ links.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include "kestrune_h.h"
#include "server/dual_interface.h"
#include "server/interface_table.h"
#include "server/type_infos.h"

namespace kestrune {

class HardLinkObject : public DualInterface<IHardLink, &hardLinkTypeInfo>,
                       public IShellExtInit,
                       public IContextMenu,
                       public IShellIconOverlayIdentifier {
public:
    static const InterfaceTable<HardLinkObject> interfaces;

    // IShellExtInit (hardlink_drop.cpp)
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId) override;

    // IContextMenu (hardlink_drop.cpp)
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT firstCommand, UINT lastCommand, UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT* reserved, CHAR* name, UINT chars) override;

    // IShellIconOverlayIdentifier (hardlink_overlay.cpp)
    STDMETHODIMP IsMemberOf(LPCWSTR path, DWORD attributes) override;
    STDMETHODIMP GetOverlayInfo(LPWSTR iconFile, int chars, int* index, DWORD* flags) override;
    STDMETHODIMP GetPriority(int* priority) override;

    // Creates the link under the first free name of the series; failures are told to `owner`,
    // or to no one without one (a caller that asked for no user interface). False on failure.
    bool CreateLinkInTarget(HWND owner, bool showFailure = true);

protected:
    HardLinkObject();
    ~HardLinkObject() = default;

private:
    wchar_t caption_[100];
    wchar_t targetFolder_[MAX_PATH];
    wchar_t droppedFile_[MAX_PATH];
};

// The string table's texts the user sees; the numbered name carries the number as "%d".
enum HardLinkText : UINT {
    kCreateHardLinkMenuText = 140,
    kCreateHardLinkFailedText = 141,
    kFirstLinkNamePrefix = 142,
    kNumberedLinkNamePrefix = 143,
    kCreateHardLinkHelpText = 147,
};

} // namespace kestrune
