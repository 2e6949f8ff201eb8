// Stands in for hhctrl.ocx: HtmlHelpW records each call, and RecordedHelpCalls hands them over.
#include "tests/help/help_call.h"

static HelpCall calls[256];
static LONG count;

extern "C" HWND WINAPI HtmlHelpW(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data) {
    if (count == 256) return nullptr;
    HelpCall& call = calls[count];
    call = HelpCall{caller, command, {}, data, {}, reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1000 + count))};
    if (file) lstrcpynW(call.file, file, MAX_PATH);
    if (command == HH_DISPLAY_TEXT_POPUP) call.popup = *reinterpret_cast<const HH_POPUP*>(data);
    return calls[count++].result;
}

extern "C" LONG WINAPI RecordedHelpCalls(const HelpCall** records) {
    *records = calls;
    return count;
}
