// The language of every text the user sees: Japanese where the user's interface language is
// Japanese, English everywhere else. It is read from the user's setting at each request and the
// resources are found in it explicitly: the thread's own UI language belongs to the host
// (Explorer) and is never read or changed.
#pragma once
#include <windows.h>

#include <cstddef>

namespace kestrune {

// Strings every part shows: "Kestrune" (the tab's and every message box's title) and the
// manual's file name, which differs by language.
constexpr UINT kCaptionText = 101;
constexpr UINT kManualFileText = 170;

LANGID UiLanguage();

// Resource `id` of `type` in the UI language, the Japanese one where that language lacks it;
// null when there is none. It lives as long as the library.
const void* FindUiResource(const wchar_t* type, UINT id, DWORD* bytes = nullptr);

// Dialog template `id`, for the indirect dialog and page calls.
inline const DLGTEMPLATE* UiDialog(UINT id) { return static_cast<const DLGTEMPLATE*>(FindUiResource(RT_DIALOG, id)); }

// Menu `id` in the UI language, for the caller to destroy; null when it cannot be made.
HMENU LoadUiMenu(UINT id);

// String `id` into `buffer`, cut to fit and always terminated; empty when there is none.
void LoadUiString(UINT id, wchar_t* buffer, size_t chars);

// A string of the table, held for one statement or one scope: MessageBoxW(owner, UiText(id), ...).
class UiText {
public:
    explicit UiText(UINT id) { LoadUiString(id, text_, kChars); }
    operator const wchar_t*() const { return text_; }

private:
    static constexpr size_t kChars = 512;
    wchar_t text_[kChars];
};

} // namespace kestrune
