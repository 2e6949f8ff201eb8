// The page's dialog procedure: the object in the page's user data, commands dispatched to the
// link and stream sections, context help, and the worker's posted notices.
#include "shell/propntfs/propntfs_object.h"

#include <commctrl.h>

#include "server/module.h"
#include "shell/activation_context.h"
#include "shell/help/help.h"

namespace kestrune {

INT_PTR CALLBACK PropNtfsObject::PageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* sheetPage = reinterpret_cast<PROPSHEETPAGEW*>(lParam);
        auto* self = reinterpret_cast<PropNtfsObject*>(sheetPage->lParam);
        SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->ShowLinkCount(page);
        self->FillStreamList(page);
        return FALSE;
    }
    auto* self = reinterpret_cast<PropNtfsObject*>(GetWindowLongPtrW(page, DWLP_USER));
    if (!self) return FALSE;
    switch (message) {
    case WM_COMMAND:
        self->Dispatch(page, LOWORD(wParam), HIWORD(wParam));
        return FALSE;
    // Handled here: passed on, the sheet (and Explorer behind it) would open its own help too.
    case WM_HELP: {
        auto* info = reinterpret_cast<HELPINFO*>(lParam);
        if (info) ShowContextHelp(page, kPropertyPageHelp, info->iCtrlId);
        SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_CONTEXTMENU:
        ShowContextHelp(page, kPropertyPageHelp, GetDlgCtrlID(reinterpret_cast<HWND>(wParam)));
        SetWindowLongPtrW(page, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        // The read-only preview keeps a white background.
        if (reinterpret_cast<HWND>(lParam) == GetDlgItem(page, kStreamPreview))
            return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
        return FALSE;
    case kScanStartedMessage:
        SendDlgItemMessageW(page, kAnimation, ACM_OPENW, reinterpret_cast<WPARAM>(Module().instance),
                            reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(kBusyClip)));
        SendDlgItemMessageW(page, kAnimation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
        return FALSE;
    case kEnumerationEndedMessage:
        self->FinishEnumeration(page);
        return FALSE;
    default:
        return FALSE;
    }
}

void PropNtfsObject::Dispatch(HWND page, WORD id, WORD code) {
    ScopedActivation themed; // for the message boxes, menus and dialogs the commands open
    // Every step acts on the held file; once it is gone (deleted behind the page's back, too), only
    // help is left.
    if (id != kHelpButton && FileGone(page)) return;
    if (streamsClosed_ && ((id >= kStreamList && id <= kDeleteStreamButton) || id >= kNewStreamCommand)) return;
    switch (id) {
    case kEnumerateButton: StartOrStopEnumeration(page); break;
    case kDeleteLinkButton: DeleteLink(page); break;
    case kReloadStreamsButton: FillStreamList(page); break;
    case kEditStreamButton: ShowStreamMenu(page); break;
    case kDeleteStreamButton: DeleteStream(page); break;
    case kHelpButton: ShowHelpFile(); break;
    case kNewStreamCommand: NewStreamFromFile(page); break;
    case kSaveStreamCommand: SaveStreamToFile(page); break;
    case kRenameStreamCommand: RenameStream(page); break;
    default: break;
    }
    if (code == LBN_SELCHANGE && id == kStreamList) PreviewStream(page);
}

} // namespace kestrune
