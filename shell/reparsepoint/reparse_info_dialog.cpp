#include "shell/reparsepoint/reparse_info_dialog.h"

#include <cstdio>
#include <cwchar>

#include "ntfs/reparse/reparse_record.h"
#include "ntfs/volumes/volumes.h"
#include "server/module.h"
#include "shell/activation_context.h"
#include "shell/help/help.h"
#include "shell/reparsepoint/reparsepoint_object.h"
#include "shell/reparsepoint/reparsepoint_texts.h"
#include "shell/ui_language.h"

namespace kestrune {
namespace {

constexpr int kInfoDialog = 204;
constexpr int kLibraryIcon = 201;

struct ReparseInfoInit {
    ReparsePointObject* object;
    HWND owner;
    const wchar_t* target;
    bool symbolicLink; // shown as such; removing it takes the link away, and it offers no change
};

// The dialog centres on the top-level window of its owner (Explorer's frame, wherever in it the
// command came from), or on the owner itself when that has no ancestor.
void PlaceDialog(HWND dialog, HWND owner) {
    HWND reference = GetAncestor(owner, GA_ROOT);
    CenterOnWindow(dialog, reference ? reference : owner);
}

INT_PTR CALLBACK InfoDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* object = reinterpret_cast<ReparsePointObject*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        const auto* init = reinterpret_cast<const ReparseInfoInit*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(init->object));
        PlaceDialog(dialog, init->owner);
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(LoadSmallIcon(kLibraryIcon)));
        SetDlgItemTextW(dialog, kTargetEdit, init->target);
        if (init->symbolicLink) SetDlgItemTextW(dialog, kTargetLabel, UiText(kSymbolicLinkLabel));
        if (init->symbolicLink || !init->object->OffersChange()) EnableWindow(GetDlgItem(dialog, kChangeButton), FALSE);
        break;
    }
    case WM_DESTROY: // the small icon was loaded for this dialog alone
        if (HICON icon = reinterpret_cast<HICON>(SendMessageW(dialog, WM_SETICON, ICON_SMALL, 0))) DestroyIcon(icon);
        break;
    case WM_COMMAND:
        if (!object) break;
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            break;
        case kRemoveButton:
            object->RemoveMountFlow(dialog);
            break;
        case kChangeButton: {
            wchar_t shown[MAX_PATH] = {};
            GetDlgItemTextW(dialog, kTargetEdit, shown, MAX_PATH);
            object->ChangeMountFlow(dialog, shown);
            break;
        }
        }
        break;
    // Handled here, so that the owner opens no help of its own.
    case WM_HELP:
        if (lParam) ShowContextHelp(dialog, kReparseInfoHelp, reinterpret_cast<const HELPINFO*>(lParam)->iCtrlId);
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_CONTEXTMENU:
        ShowContextHelp(dialog, kReparseInfoHelp, GetDlgCtrlID(reinterpret_cast<HWND>(wParam)));
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    return FALSE;
}

} // namespace

void ReparseInfoDialog(ReparsePointObject& object, HWND owner) {
    wchar_t target[MAX_PATH], also[MAX_PATH], shown[2 * MAX_PATH + 4];
    DWORD tag = 0;
    int read = ReadLinkTarget(object.FolderPath(), target, &tag);
    if (read < 0) {
        object.Say(owner, kReadFailed, MB_ICONERROR);
        return;
    }
    // Beside the text stored: the folder a relative link resolves to, the drive letter of a volume.
    bool more = read == 1 ? ResolveRelativeLink(object.FolderPath(), target, also)
                          : wcsncmp(target, L"Volume{", 7) == 0 && DriveRootFromVolumeName(target, also) == 0;
    if (more)
        swprintf(shown, sizeof shown / sizeof *shown, L"%ls (%ls)", target, also);
    else
        wcscpy(shown, target);
    ReparseInfoInit init = {&object, owner, shown, tag != kMountPointTag};
    if (const DLGTEMPLATE* dialog = UiDialog(kInfoDialog))
        DialogBoxIndirectParamW(Module().instance, dialog, owner, InfoDialogProcedure, reinterpret_cast<LPARAM>(&init));
}

void CenterOnWindow(HWND window, HWND reference) {
    RECT own, around;
    if (!GetWindowRect(window, &own) || !GetWindowRect(reference, &around)) return;
    int left = (around.left + around.right - (own.right - own.left)) / 2;
    int top = (around.top + around.bottom - (own.bottom - own.top)) / 2;
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

} // namespace kestrune
