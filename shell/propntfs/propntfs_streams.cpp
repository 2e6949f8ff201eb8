// The stream section: the list of named streams, the preview, and deleting, creating, saving
// and renaming a stream. Contents move through one bounded buffer, whatever their size.
#include "shell/propntfs/propntfs_object.h"

#include <climits>
#include <cwchar>
#include <initializer_list>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "ntfs/scoped.h"
#include "ntfs/streams/streams.h"
#include "server/module.h"
#include "shell/bounded_text.h"
#include "shell/propntfs/content_copy.h"
#include "shell/propntfs/file_dialogs.h"
#include "shell/propntfs/preview_text.h"

namespace kestrune {
namespace {

constexpr DWORD kPreviewBytes = 1024;
constexpr DWORD kExistingStreamFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_NORMAL;

HANDLE OpenForReading(const wchar_t* path, DWORD flags) {
    return Kernel().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
}

// Only ever a new target: an existing stream or file of that name is never overwritten.
HANDLE CreateNew(const wchar_t* path, DWORD flags) {
    return Kernel().CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
}

// `stem` + `middle` + n + `end` with the first n that names no existing file; empty when the
// name cannot fit.
void FirstFreeName(const wchar_t* stem, const wchar_t* middle, const wchar_t* end, wchar_t (&file)[MAX_PATH]) {
    for (int n = 1; n < INT_MAX; ++n) {
        BoundedText text(file, MAX_PATH);
        if (!text.Append(stem).Append(middle).AppendNumber(n).Append(end).Fits()) break;
        if (!IsExistingFile(file)) return;
    }
    file[0] = L'\0';
}

// A stream name as a list line: characters 1-31 (CR and LF among them) as "\x0D"; a backslash
// cannot be part of a stream name, so the shown form is never another stream's name.
constexpr size_t kShownNameChars = 4 * (kStreamNameChars - 1) + 1;
void VisibleName(const wchar_t* name, wchar_t (&shown)[kShownNameChars]) {
    size_t used = 0;
    for (; *name && used + 5 <= kShownNameChars; ++name) {
        if (*name >= 0x20) {
            shown[used++] = *name;
            continue;
        }
        const wchar_t* digits = L"0123456789ABCDEF";
        const wchar_t escaped[] = {L'\\', L'x', digits[*name >> 4], digits[*name & 15]};
        for (wchar_t c : escaped) shown[used++] = c;
    }
    shown[used] = L'\0';
}

} // namespace

void PropNtfsObject::Tell(HWND owner, UINT text, UINT icon) { MessageBoxW(owner, UiText(text), caption_, icon); }

bool PropNtfsObject::StreamPath(const wchar_t* name, wchar_t (&path)[kStreamPathChars]) {
    wchar_t file[kStreamPathChars];
    if (CurrentPath(file, kStreamPathChars) != 1) return false;
    BoundedText text(path, kStreamPathChars);
    return text.Append(file).Append(L":").Append(name).Fits();
}

// The selected entry's real name, which its shown line may not be.
bool PropNtfsObject::SelectedStreamPath(HWND page, wchar_t (&path)[kStreamPathChars]) {
    HWND list = GetDlgItem(page, kStreamList);
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR) return false;
    LRESULT name = SendMessageW(list, LB_GETITEMDATA, selected, 0);
    return name != LB_ERR && name != 0 && StreamPath(reinterpret_cast<const wchar_t*>(name), path);
}

void PropNtfsObject::FillStreamList(HWND page) {
    HWND list = GetDlgItem(page, kStreamList);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    SetDlgItemTextW(page, kStreamPreview, L"");
    streamNames_.Reset(0);
    wchar_t file[kStreamPathChars];
    if (streamsClosed_ || CurrentPath(file, kStreamPathChars) != 1) return;
    int count = CountNamedStreams(file);
    if (count < 0) return;
    // A stream added since the count finds no room in the buffer and is left out.
    size_t chars = static_cast<size_t>(count) * kStreamNameChars + 1;
    if (!streamNames_.Reset(chars * sizeof(wchar_t))) return;
    const wchar_t* name = streamNames_.As<wchar_t>();
    int listed = ListStreamNames(file, streamNames_.As<wchar_t>(), chars);
    for (int i = 0; i < listed && *name; ++i, name += wcslen(name) + 1) {
        wchar_t shown[kShownNameChars];
        VisibleName(name, shown);
        LRESULT item = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown));
        if (item >= 0) SendMessageW(list, LB_SETITEMDATA, item, reinterpret_cast<LPARAM>(name));
    }
}

void PropNtfsObject::CloseStreamSection(HWND page) {
    streamsClosed_ = true;
    FillStreamList(page);
    for (int id : {kStreamList, kStreamPreview, kReloadStreamsButton, kEditStreamButton, kDeleteStreamButton})
        EnableWindow(GetDlgItem(page, id), FALSE);
}

void PropNtfsObject::PreviewStream(HWND page) {
    SetDlgItemTextW(page, kStreamPreview, L"");
    wchar_t path[kStreamPathChars];
    if (!SelectedStreamPath(page, path)) return;
    ScopedHandle stream(OpenForReading(path, kExistingStreamFlags));
    if (!stream.Valid()) return;
    BYTE bytes[kPreviewBytes];
    DWORD read = 0;
    if (!Kernel().ReadFile(stream.Get(), bytes, kPreviewBytes, &read, nullptr) || read > kPreviewBytes) return;
    wchar_t text[kPreviewBytes + 1];
    DecodePreview(bytes, read, read == kPreviewBytes, text);
    SetDlgItemTextW(page, kStreamPreview, text);
}

void PropNtfsObject::DeleteStream(HWND page) {
    wchar_t path[kStreamPathChars];
    if (!SelectedStreamPath(page, path)) return;
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
    ScopedHandle written(CreateNew(target, flags));
    if (!written.Valid()) {
        DWORD error = GetLastError();
        bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        return Tell(page, taken ? texts.exists : texts.notCreated, MB_ICONERROR), false;
    }
    CopyResult result = CopyContent(source, written.Get(), chunk.As<void>());
    written.Reset();
    if (result == CopyResult::Copied) return true;
    Kernel().DeleteFileW(target); // a partial copy would pass for the whole; this call created it
    Tell(page, result == CopyResult::ReadFailed ? texts.readFailed : texts.writeFailed, MB_ICONERROR);
    return false;
}

void PropNtfsObject::NewStreamFromFile(HWND page) {
    wchar_t file[MAX_PATH] = {};
    if (!ShowOpenFileDialog(page, file, MAX_PATH, nullptr, nullptr, 1, false)) return;
    ScopedHandle source(OpenForReading(file, FILE_ATTRIBUTE_NORMAL));
    if (!source.Valid()) return Tell(page, kFileOpenFailedText, MB_ICONERROR);
    wchar_t name[MAX_PATH], path[kStreamPathChars];
    if (!AskStreamName(page, name)) return;
    if (!StreamPath(name, path)) return Tell(page, kNameTooLongText, MB_ICONERROR);
    const CopyFailureTexts texts = {kStreamExistsText, kStreamCreateFailedText, kFileReadFailedText,
                                    kStreamWriteFailedText};
    if (CopyToNewTarget(page, source.Get(), path, kExistingStreamFlags, texts)) FillStreamList(page);
}

// Written beside the chosen file and put in its place only when complete: a copy that fails half
// way leaves the file the user agreed to replace as it was.
void PropNtfsObject::SaveStreamToFile(HWND page) {
    wchar_t path[kStreamPathChars];
    if (!SelectedStreamPath(page, path)) return;
    wchar_t file[MAX_PATH];
    FirstFreeName(filePath_, L".Stream", L"", file);
    if (!ShowSaveFileDialog(page, file, MAX_PATH, nullptr, nullptr, 1)) return;
    ScopedHandle stream(OpenForReading(path, kExistingStreamFlags));
    if (!stream.Valid()) return Tell(page, kStreamReadFailedText, MB_ICONERROR);
    wchar_t beside[MAX_PATH];
    FirstFreeName(file, L".~", L".tmp", beside);
    if (!beside[0]) return Tell(page, kFileCreateFailedText, MB_ICONERROR);
    const CopyFailureTexts texts = {kFileCreateFailedText, kFileCreateFailedText, kStreamReadFailedText,
                                    kFileWriteFailedText};
    if (!CopyToNewTarget(page, stream.Get(), beside, FILE_ATTRIBUTE_NORMAL, texts)) return;
    if (!Kernel().MoveFileExW(beside, file, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Kernel().DeleteFileW(beside);
        Tell(page, kFileCreateFailedText, MB_ICONERROR); // a folder of that name, or a file in use
    }
}

// A copy under the new name first, then the old name goes: a failure on the way leaves the old
// stream as it was, so no content is ever held only in memory. The new name must be free.
void PropNtfsObject::RenameStream(HWND page) {
    wchar_t oldPath[kStreamPathChars];
    if (!SelectedStreamPath(page, oldPath)) return;
    wchar_t name[MAX_PATH], newPath[kStreamPathChars];
    if (!AskStreamName(page, name)) return;
    if (!StreamPath(name, newPath)) return Tell(page, kNameTooLongText, MB_ICONERROR);
    // "note" renamed to "NOTE" names the same stream (NTFS ignores case): it stays as it is.
    if (CompareStringOrdinal(oldPath, -1, newPath, -1, TRUE) != CSTR_EQUAL) {
        ScopedHandle source(OpenForReading(oldPath, kExistingStreamFlags));
        if (!source.Valid()) return Tell(page, kStreamReadFailedText, MB_ICONERROR);
        const CopyFailureTexts texts = {kStreamExistsText, kStreamCreateFailedText, kRenameKeptOldText,
                                        kRenameKeptOldText};
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
