// One HtmlHelpW call as the stand-in help control recorded it (the pop-up for HH_DISPLAY_TEXT_POPUP).
#pragma once
#include <windows.h>
#include <htmlhelp.h>

struct HelpCall { HWND caller; UINT command; wchar_t file[MAX_PATH]; DWORD_PTR data; HH_POPUP popup; wchar_t text[512]; };
using RecordedHelpCallsProc = LONG(WINAPI*)(const HelpCall**);
