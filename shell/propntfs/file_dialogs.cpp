#include "shell/propntfs/file_dialogs.h"

#include <commdlg.h>

#include <cwchar>

#include "shell/activation_context.h"
#include "shell/bounded_text.h"
#include "shell/ui_language.h"

namespace kestrune {
namespace {

constexpr UINT kAllFilesFilter = 261; // "All files(*.*)|*.*" in the user's language

// The dialogs may change the process's current directory; a shell extension must leave the
// host's as it was.
class KeptCurrentDirectory {
public:
    KeptCurrentDirectory() {
        DWORD length = GetCurrentDirectoryW(MAX_PATH, saved_);
        kept_ = length > 0 && length < MAX_PATH;
    }
    ~KeptCurrentDirectory() {
        if (kept_) SetCurrentDirectoryW(saved_);
    }
    KeptCurrentDirectory(const KeptCurrentDirectory&) = delete;
    KeptCurrentDirectory& operator=(const KeptCurrentDirectory&) = delete;

private:
    wchar_t saved_[MAX_PATH] = {};
    bool kept_ = false;
};

OPENFILENAMEW DialogRecord(HWND owner, const wchar_t* filter, wchar_t* file, DWORD fileChars, const wchar_t* title,
                           DWORD filterIndex) {
    OPENFILENAMEW record = {};
    record.lStructSize = sizeof record;
    record.hwndOwner = owner;
    record.lpstrFilter = filter;
    record.lpstrFile = file;
    record.nMaxFile = fileChars;
    record.nFilterIndex = filterIndex;
    record.lpstrTitle = title;
    return record;
}

} // namespace

void BuildFileFilter(wchar_t (&filter)[kFilterChars], const wchar_t* extraFilter) {
    // One character stays free for the list's second terminator.
    UiText allFiles(kAllFilesFilter);
    BoundedText text(filter, kFilterChars - 1);
    if (extraFilter) text.Append(extraFilter).Append(L"|");
    text.Append(allFiles);
    if (!text.Fits()) BoundedText(filter, kFilterChars - 1).Append(allFiles);
    wmemset(filter + wcslen(filter), L'\0', kFilterChars - wcslen(filter));
    for (wchar_t* c = filter; *c; ++c)
        if (*c == L'|') *c = L'\0';
}

BOOL ShowOpenFileDialog(HWND owner, wchar_t* file, DWORD fileChars, const wchar_t* extraFilter, const wchar_t* title,
                        DWORD filterIndex, bool multipleSelection) {
    KeptCurrentDirectory directory;
    wchar_t filter[kFilterChars];
    BuildFileFilter(filter, extraFilter);
    OPENFILENAMEW record = DialogRecord(owner, filter, file, fileChars, title, filterIndex);
    record.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (multipleSelection) record.Flags |= OFN_ALLOWMULTISELECT;
    return GetOpenFileNameW(&record);
}

BOOL ShowSaveFileDialog(HWND owner, wchar_t* file, DWORD fileChars, const wchar_t* extraFilter, const wchar_t* title,
                        DWORD filterIndex) {
    KeptCurrentDirectory directory;
    wchar_t filter[kFilterChars];
    BuildFileFilter(filter, extraFilter);
    OPENFILENAMEW record = DialogRecord(owner, filter, file, fileChars, title, filterIndex);
    record.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT;
    return GetSaveFileNameW(&record);
}

} // namespace kestrune
