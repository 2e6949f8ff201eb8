// Stands in for hhctrl.ocx: HtmlHelpW records each call, and RecordedHelpCalls hands them over.
#include "tests/help/help_call.h"

static HelpCall calls[256];
static LONG count;

extern "C" HWND WINAPI HtmlHelpW(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data) {
    if (count == 256) return nullptr;
    HelpCall& call = calls[count++] = HelpCall{caller, command, {}, data, {}, {}};
    if (file) lstrcpynW(call.file, file, MAX_PATH);
    if (command == HH_DISPLAY_TEXT_POPUP) call.popup = *reinterpret_cast<const HH_POPUP*>(data);
    if (call.popup.pszText) lstrcpynW(call.text, call.popup.pszText, 512);
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(count)); // never null, like the control's window
}

extern "C" LONG WINAPI RecordedHelpCalls(const HelpCall** records) {
    *records = calls;
    return count;
}
