// Dialog 209, "ストリーム名の入力": a stream name that is neither empty nor holds a character
// that NTFS or the page's "%s:%s" paths cannot take.
#include "shell/propntfs/propntfs_object.h"

#include <cwchar>

#include "ntfs/paths.h"
#include "server/module.h"
#include "shell/activation_context.h"

namespace kestrune {

bool PropNtfsObject::AskStreamName(HWND page, wchar_t (&name)[MAX_PATH]) {
    nameDialogResult_[0] = L'\0';
    const DLGTEMPLATE* dialog = UiDialog(kStreamNameDialog);
    if (!dialog) return false;
    INT_PTR chosen =
        DialogBoxIndirectParamW(Module().instance, dialog, page, NameProcedure, reinterpret_cast<LPARAM>(this));
    if (chosen != IDOK) return false;
    wcscpy(name, nameDialogResult_);
    return true;
}

INT_PTR CALLBACK PropNtfsObject::NameProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(LoadSmallIcon(201)));
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SendDlgItemMessageW(dialog, kStreamNameEdit, EM_SETLIMITTEXT, kLongestStreamName, 0);
        return FALSE;
    }
    if (message == WM_DESTROY) { // the small icon was loaded for this dialog alone
        if (HICON icon = reinterpret_cast<HICON>(SendMessageW(dialog, WM_SETICON, ICON_SMALL, 0))) DestroyIcon(icon);
        return FALSE;
    }
    if (message != WM_COMMAND) return FALSE;
    auto* self = reinterpret_cast<PropNtfsObject*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return FALSE;
    }
    if (LOWORD(wParam) != IDOK || !self) return FALSE;
    HWND edit = GetDlgItem(dialog, kStreamNameEdit);
    int length = GetWindowTextLengthW(edit);
    UINT refusal = 0;
    UINT icon = MB_ICONERROR;
    if (length == 0) {
        refusal = kEmptyNameText;
        icon = MB_ICONWARNING;
    } else if (length > static_cast<int>(kLongestStreamName)) {
        refusal = kNameTooLongText; // more than NTFS holds; never cut into another name
    } else {
        GetWindowTextW(edit, self->nameDialogResult_, MAX_PATH);
        if (!IsValidStreamName(self->nameDialogResult_)) refusal = kInvalidNameText;
    }
    if (refusal) {
        MessageBoxW(dialog, UiText(refusal), self->caption_, icon);
        SetFocus(edit);
        return TRUE;
    }
    EndDialog(dialog, IDOK);
    return FALSE;
}

} // namespace kestrune
