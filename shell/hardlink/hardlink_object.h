// HardLink: the right-drag handler that links the dropped items into the target folder (hard links,
// symbolic links, junctions) and the overlay on files with 2+ links.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include "kestrune_h.h"
#include "ntfs/links/drop_links.h"
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

    // Makes the links of `kind` on this thread, as the worker does (link_job.cpp); the progress and
    // the final message are owned by `owner`, none shown without `ui`.
    void MakeLinks(LinkKind kind, HWND owner, bool ui);

protected:
    HardLinkObject();
    ~HardLinkObject() = default;

private:
    // Which kinds every dropped item can take: bit 1 << LinkKind.
    unsigned OffersFor() const;

    wchar_t caption_[100];
    wchar_t targetFolder_[MAX_PATH];
    NameList dropped_;
    unsigned offers_ = 0;
};

// The string table's texts the user sees; the numbered name carries the number as "%d".
enum HardLinkText : UINT {
    kCreateHardLinkMenuText = 140,
    kCreateHardLinkFailedText = 141,
    kFirstLinkNamePrefix = 142,
    kNumberedLinkNamePrefix = 143,
    kCreateSymbolicLinkMenuText = 240,
    kCreateJunctionMenuText = 241,
    kFirstSymbolicLinkNamePrefix = 242,
    kNumberedSymbolicLinkNamePrefix = 243,
    kFirstJunctionNamePrefix = 244,
    kNumberedJunctionNamePrefix = 245,
    kLinksNotMadeText = 246,
    kSymbolicLinkRightText = 247,
    kLinkProgressText = 248,  // "%d" made of "%d"
    kItemMissingReason = 249,
    kNameTooLongReason = 250,
    kFolderMissingReason = 251,
    kRefusedReason = 252,     // with the system's error code as "%lu"
    kMoreFailuresText = 253,  // "%d" more
    kAccessDeniedReason = 254,
    kTooManyLinksReason = 255,
    kNotSupportedReason = 256,
    kInUseReason = 257,
    kCreateHardLinkHelpText = 258,
    kCreateSymbolicLinkHelpText = 259,
    kCreateJunctionHelpText = 260,
};

// Runs the links of `kind` into `folder` for `items` on this thread (shell/hardlink/link_job.cpp).
void RunLinkJob(LinkKind kind, const wchar_t* folder, const NameList& items, HWND owner, bool ui);
// The same on a worker that holds the module and its file until it ends; false when none could start.
bool StartLinkJob(LinkKind kind, const wchar_t* folder, const NameList& items, HWND owner, bool ui);

} // namespace kestrune
