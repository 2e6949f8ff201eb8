// ReparsePoint: the folder menu that mounts a folder or a drive on an empty NTFS folder and shows
// or changes an existing mount, and the overlay on junction folders.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include "kestrune_h.h"
#include "ntfs/reparse/elevated_command.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/volumes/volumes.h"
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
    bool OffersChange() const { return !remote_; }

    const wchar_t* FolderPath() const { return folderPath_; }
    // A message box of string `text` under the library's title.
    int Say(HWND owner, UINT text, UINT style) const;

protected:
    ReparsePointObject();
    ~ReparsePointObject() = default;

private:
    // Whether the folder named now is still the one the user picked (not replaced or moved away).
    bool StillTheFolder() const;
    // Tells the shell that the folder's content and the folder itself (its icon, its overlay) changed.
    void NotifyChanged(bool mountChanged) const;
    // Whether the folder carries a mount, a folder link or a reparse point of unreadable tag now;
    // unreadable attributes count as one.
    bool FolderHasReparsePoint() const;
    // The menu's one item for the folder as it is now.
    MenuCommand ItemCommand() const;
    // The browser until a target that is not the folder itself, and not above it unless the
    // user agrees (mount_flow.cpp). False when the user cancels.
    bool ChooseTarget(HWND owner, const wchar_t* initial, wchar_t (&target)[MAX_PATH]);

    // The folder's mount set to `target` or removed (mount_flow.cpp). Where the user's token is
    // refused the change with access denied, the elevated helper makes it after the system's
    // prompt, asked once per object. 0 on success, kDeclined when the user declined the prompt,
    // else nonzero.
    static constexpr int kDeclined = -5;
    int SetMount(HWND owner, const wchar_t* target);
    int RemoveMount(HWND owner);
    // A mount replaced with this process's token alone (mount_change.cpp): in place for a junction
    // to a folder, else removed, set anew, and put back when that fails. Refused: this token may
    // not, and the folder is as it was.
    enum class Replaced { Done, Refused, Declined, NotRemoved, NotSet, PutBack, Lost };
    Replaced ReplaceWithOwnToken(const wchar_t* argument, const SavedReparse& saved, bool inPlace);
    // The whole change once more through the elevated helper: one prompt, whatever it takes.
    Replaced ReplaceElevated(HWND owner, const wchar_t* argument);
    // `status` of the user's own attempt, with the thread's last error as it left it.
    int Elevate(HWND owner, int status, ElevatedOperation operation, const wchar_t* argument);
    // The helper run after the system's prompt: 0, kDeclined, or -3 when it failed.
    int RunElevated(HWND owner, ElevatedOperation operation, const wchar_t* argument);

    wchar_t caption_[100];
    wchar_t folderPath_[MAX_PATH];
    bool declined_ = false;
    FolderIdentity identity_; // taken when the user picked the folder
    // On a share (or a mapped drive) the server resolves a mount on its own drives: a target chosen
    // here would lead elsewhere there, so no mount is set or changed, only shown and removed.
    bool remote_ = false;
};

// "E:\": as a chosen target, its drive's volume is mounted; any other folder gets a junction.
bool IsDriveRoot(const wchar_t* path);
// What a mount of `target` is made from, read once before anything changes: a drive's volume name
// ("\\?\Volume{...}\"), else the folder itself. False when the mount manager cannot name the drive's
// volume (an empty card reader) or the folder does not fit.
bool MountArgument(const wchar_t* target, wchar_t (&argument)[MAX_PATH]);
bool IsVolumeArgument(const wchar_t* argument);
// The argument mounted on `folder` with this process's token: 0, or the library's status.
int MountByArgument(const wchar_t* folder, const wchar_t* argument);

} // namespace kestrune
