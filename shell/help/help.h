// Help through the HTML Help control, loaded at the first request: text pop-ups from the
// library's own strings, and the manual beside the library, both in the UI language.
#pragma once
#include <windows.h>

#include <cstddef>

namespace kestrune {

// One row of a dialog's context-help table: a control and the string resource it pops up.
struct HelpTopic {
    int controlId;
    UINT stringId;
};

struct HelpTable {
    const HelpTopic* rows;
    size_t count;
};

// The property page's controls 201 to 212, and the reparse-point information dialog's.
extern const HelpTable kPropertyPageHelp;
extern const HelpTable kReparseInfoHelp;

// HtmlHelpW of the control; null when the control cannot be loaded (then never tried again).
HWND CallHtmlHelp(HWND caller, const wchar_t* file, UINT command, DWORD_PTR data);

// A text pop-up of string resource `stringId` at the mouse cursor.
void ShowHelpPopup(HWND dialog, UINT stringId);

// The pop-up that `table` gives for `controlId`; a control outside the table shows nothing.
void ShowContextHelp(HWND dialog, const HelpTable& table, int controlId);

// The manual of the UI language (Kestrune.chm, Kestrune-en.chm) in the library's own folder, at its
// table of contents.
void ShowHelpFile();

} // namespace kestrune
