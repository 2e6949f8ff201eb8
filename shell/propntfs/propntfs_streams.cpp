// The stream section: the list of named streams, the preview, and deleting, creating, saving
// and renaming a stream. Contents move through one bounded buffer, whatever their size.
#include "shell/propntfs/propntfs_object.h"

#include <climits>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/scoped.h"
#include "ntfs/streams.h"
#include "server/module.h"
#include "shell/bounded_text.h"
#include "shell/propntfs/content_copy.h"
#include "shell/propntfs/file_dialogs.h"

namespace kestrune {
namespace {

constexpr DWORD kPreviewBytes = 1024;
constexpr DWORD kExistingStreamFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_NORMAL;

HANDLE OpenForReading(const wchar_t* path, DWORD flags) {
    return Kernel().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
}

HANDLE CreateForWriting(const wchar_t* path, DWORD flags) {
    return Kernel().CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
}

// "%s.Stream%d" with the first n that names no existing file; empty when the name cannot fit.
void ProposeSaveName(const wchar_t* item, wchar_t (&file)[MAX_PATH]) {
    for (int n = 1; n < INT_MAX; ++n) {
        BoundedText text(file, MAX_PATH);
        if (!text.Append(item).Append(L".Stream").AppendNumber(n).Fits()) break;
        if (!IsExistingFile(file)) return;
    }
    file[0] = L'\0';
}

} // namespace

void PropNtfsObject::Tell(HWND owner, UINT text, UINT icon) { MessageBoxW(owner, UiText(text), caption_, icon); }

bool PropNtfsObject::SelectedStreamPath(HWND page, wchar_t (&name)[MAX_PATH], wchar_t (&path)[2 * MAX_PATH]) {
    HWND list = GetDlgItem(page, kStreamList);
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR) return false;
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, selected, 0);
    if (length == LB_ERR || length >= MAX_PATH) return false;
    if (SendMessageW(list, LB_GETTEXT, selected, reinterpret_cast<LPARAM>(name)) == LB_ERR) return false;
    BoundedText text(path, 2 * MAX_PATH);
    return text.Append(filePath_).Append(L":").Append(name).Fits();
}

// Streams this page makes are named with a leading space: "%s: %s".
bool PropNtfsObject::NewStreamPath(const wchar_t* name, wchar_t (&path)[2 * MAX_PATH]) {
    BoundedText text(path, 2 * MAX_PATH);
    return text.Append(filePath_).Append(L": ").Append(name).Fits();
}

void PropNtfsObject::FillStreamList(HWND page) {
    HWND list = GetDlgItem(page, kStreamList);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    SetDlgItemTextW(page, kStreamPreview, L"");
    int count = CountNamedStreams(filePath_);
    if (count < 0) return;
    size_t chars = count > 0 ? static_cast<size_t>(count) * MAX_PATH : 1;
    ScopedGlobal names(chars * sizeof(wchar_t));
    if (!names.Valid()) return;
    // A stream added since the count finds no room in the buffer and is left out.
    int listed = ListNamedStreams(filePath_, names.As<wchar_t>(), chars);
    wchar_t line[MAX_PATH];
    for (int i = 0; i < listed && GetTextLine(names.As<wchar_t>(), line, i) >= 0; ++i)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

void PropNtfsObject::PreviewStream(HWND page) {
    SetDlgItemTextW(page, kStreamPreview, L"");
    wchar_t name[MAX_PATH], path[2 * MAX_PATH];
    if (!SelectedStreamPath(page, name, path)) return;
    ScopedHandle stream(OpenForReading(path, kExistingStreamFlags));
    if (!stream.Valid()) return;
    // The last byte stays zero: the text ends after at most 1024 bytes.
    char text[kPreviewBytes + 1] = {};
    DWORD read = 0;
    if (!Kernel().ReadFile(stream.Get(), text, kPreviewBytes, &read, nullptr)) return;
    for (DWORD i = 0; i < read && i < kPreviewBytes; ++i)
        if (text[i] == '\0') text[i] = ' ';
    SetDlgItemTextA(page, kStreamPreview, text);
}

void PropNtfsObject::DeleteStream(HWND page) {
    wchar_t name[MAX_PATH], path[2 * MAX_PATH];
    if (!SelectedStreamPath(page, name, path)) return;
    if (MessageBoxW(page, UiText(kDeleteStreamQuestion), caption_, MB_ICONWARNING | MB_YESNO) != IDYES) return;
    if (!Kernel().DeleteFileW(path)) {
        Tell(page, kDeleteFailedText, MB_ICONERROR);
        return;
    }
    HWND list = GetDlgItem(page, kStreamList);
    SendMessageW(list, LB_DELETESTRING, SendMessageW(list, LB_GETCURSEL, 0, 0), 0);
    SetDlgItemTextW(page, kStreamPreview, L"");
}

void PropNtfsObject::ShowStreamMenu(HWND page) {
    POINT cursor = {};
    GetCursorPos(&cursor);
    HMENU menu = LoadUiMenu(kStreamMenu);
    if (!menu) return;
    HMENU popup = GetSubMenu(menu, 0);
    if (SendDlgItemMessageW(page, kStreamList, LB_GETCURSEL, 0, 0) == LB_ERR) {
        EnableMenuItem(popup, kSaveStreamCommand, MF_BYCOMMAND | MF_GRAYED);
        EnableMenuItem(popup, kRenameStreamCommand, MF_BYCOMMAND | MF_GRAYED);
    }
    TrackPopupMenu(popup, 0, cursor.x, cursor.y, 0, page, nullptr);
    DestroyMenu(menu);
}

// Through one chunk-sized block, so memory does not grow with the content (4 GiB and more).
bool PropNtfsObject::CopyToNewTarget(HWND page, HANDLE source, const wchar_t* target, DWORD flags,
                                     const CopyFailureTexts& texts) {
    ScopedGlobal chunk(kCopyChunkBytes);
    if (!chunk.Valid()) return Tell(page, kOutOfMemoryText, MB_ICONERROR), false;
    ScopedHandle written(CreateForWriting(target, flags));
    if (!written.Valid()) return Tell(page, texts.notCreated, MB_ICONERROR), false;
    CopyResult result = CopyContent(source, written.Get(), chunk.As<void>());
    written.Reset();
    if (result == CopyResult::Copied) return true;
    Kernel().DeleteFileW(target); // a partial copy would pass for the whole
    Tell(page, result == CopyResult::ReadFailed ? texts.readFailed : texts.writeFailed, MB_ICONERROR);
    return false;
}

void PropNtfsObject::NewStreamFromFile(HWND page) {
    wchar_t file[MAX_PATH] = {};
    if (!ShowOpenFileDialog(page, file, MAX_PATH, nullptr, nullptr, 1, false)) return;
    ScopedHandle source(OpenForReading(file, FILE_ATTRIBUTE_NORMAL));
    if (!source.Valid()) return Tell(page, kFileOpenFailedText, MB_ICONERROR);
    wchar_t name[MAX_PATH], path[2 * MAX_PATH];
    if (!AskStreamName(page, name)) return;
    if (!NewStreamPath(name, path)) return Tell(page, kNameTooLongText, MB_ICONERROR);
    const CopyFailureTexts texts = {kStreamCreateFailedText, kFileReadFailedText, kStreamWriteFailedText};
    if (CopyToNewTarget(page, source.Get(), path, kExistingStreamFlags, texts)) FillStreamList(page);
}

void PropNtfsObject::SaveStreamToFile(HWND page) {
    wchar_t name[MAX_PATH], path[2 * MAX_PATH];
    if (!SelectedStreamPath(page, name, path)) return;
    wchar_t file[MAX_PATH];
    ProposeSaveName(filePath_, file);
    if (!ShowSaveFileDialog(page, file, MAX_PATH, nullptr, nullptr, 1)) return;
    ScopedHandle stream(OpenForReading(path, kExistingStreamFlags));
    if (!stream.Valid()) return Tell(page, kStreamReadFailedText, MB_ICONERROR);
    const CopyFailureTexts texts = {kFileCreateFailedText, kStreamReadFailedText, kFileWriteFailedText};
    CopyToNewTarget(page, stream.Get(), file, FILE_ATTRIBUTE_NORMAL, texts);
}

// A copy under the new name first, then the old name goes: a failure on the way leaves the old
// stream as it was, so no content is ever held only in memory.
void PropNtfsObject::RenameStream(HWND page) {
    wchar_t oldName[MAX_PATH], oldPath[2 * MAX_PATH];
    if (!SelectedStreamPath(page, oldName, oldPath)) return;
    wchar_t name[MAX_PATH], newPath[2 * MAX_PATH];
    if (!AskStreamName(page, name)) return;
    if (!NewStreamPath(name, newPath)) return Tell(page, kNameTooLongText, MB_ICONERROR);
    // " note" renamed to "note" names the same stream (NTFS ignores case): it stays as it is.
    if (CompareStringOrdinal(oldPath, -1, newPath, -1, TRUE) != CSTR_EQUAL) {
        ScopedHandle source(OpenForReading(oldPath, kExistingStreamFlags));
        if (!source.Valid()) return Tell(page, kStreamReadFailedText, MB_ICONERROR);
        const CopyFailureTexts texts = {kStreamCreateFailedText, kRenameKeptOldText, kRenameKeptOldText};
        if (!CopyToNewTarget(page, source.Get(), newPath, kExistingStreamFlags, texts)) return;
        source.Reset();
        if (!Kernel().DeleteFileW(oldPath)) {
            Kernel().DeleteFileW(newPath);
            Tell(page, kRenameKeptOldText, MB_ICONERROR);
        }
    }
    FillStreamList(page);
}

} // namespace kestrune
