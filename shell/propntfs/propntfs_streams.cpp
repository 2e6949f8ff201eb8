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
#include "shell/propntfs/copy_progress.h"
#include "shell/propntfs/file_dialogs.h"
#include "shell/propntfs/preview_text.h"

namespace kestrune {
namespace {

constexpr DWORD kPreviewBytes = 1024;


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

// A reference to the page's object for as long as a copy's worker runs and its outcome is told:
// the sheet may be closed meanwhile.
class Held {
public:
    explicit Held(IShellPropSheetExt* object) : object_(object) { object_->AddRef(); }
    ~Held() { object_->Release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    IShellPropSheetExt* object_;
};

} // namespace

void PropNtfsObject::Tell(HWND owner, UINT text, UINT icon) { MessageBoxW(owner, UiText(text), caption_, icon); }

bool PropNtfsObject::StreamPath(HWND page, const wchar_t* name, StreamPathText& path) {
    size_t fileChars = HeldFilePathChars(file_.Get()), chars = fileChars + 1 + wcslen(name);
    if (fileChars == 0) return false;
    if (chars > kLongestPathChars) return Tell(page, kNameTooLongText, MB_ICONERROR), false;
    if (!path.Allocate(chars)) return Tell(page, kOutOfMemoryText, MB_ICONERROR), false;
    if (CurrentPath(path.Get(), fileChars) != 1) return false;
    wcscat(path.Get(), L":");
    wcscat(path.Get(), name);
    return true;
}

// The selected entry's real name, which its shown line may not be.
bool PropNtfsObject::SelectedStreamPath(HWND page, StreamPathText& path) {
    HWND list = GetDlgItem(page, kStreamList);
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR) return false;
    LRESULT name = SendMessageW(list, LB_GETITEMDATA, selected, 0);
    return name != LB_ERR && name != 0 && StreamPath(page, reinterpret_cast<const wchar_t*>(name), path);
}

void PropNtfsObject::FillStreamList(HWND page) {
    HWND list = GetDlgItem(page, kStreamList);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    SetDlgItemTextW(page, kStreamPreview, L"");
    streamNames_.Reset(0);
    StreamPathText path;
    size_t chars = HeldFilePathChars(file_.Get());
    if (streamsClosed_ || !path.Allocate(chars) || CurrentPath(path.Get(), chars) != 1) return;
    const wchar_t* file = path.Get();
    int count = CountNamedStreams(file);
    if (count < 0) return;
    // A stream added since the count finds no room in the buffer and is left out.
    size_t nameChars = static_cast<size_t>(count) * kStreamNameChars + 1;
    if (!streamNames_.Reset(nameChars * sizeof(wchar_t))) return;
    const wchar_t* name = streamNames_.As<wchar_t>();
    int listed = ListStreamNames(file, streamNames_.As<wchar_t>(), nameChars);
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

// An empty stream shows nothing; one that cannot be read says so, and why where another program holds it.
void PropNtfsObject::PreviewStream(HWND page) {
    SetDlgItemTextW(page, kStreamPreview, L"");
    StreamPathText path;
    if (!SelectedStreamPath(page, path)) return;
    ScopedHandle stream(OpenToRead(path.Get()));
    BYTE bytes[kPreviewBytes];
    DWORD read = 0;
    if (!stream.Valid() || !Kernel().ReadFile(stream.Get(), bytes, kPreviewBytes, &read, nullptr) || read > kPreviewBytes) {
        bool inUse = GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION;
        SetDlgItemTextW(page, kStreamPreview, UiText(inUse ? kPreviewInUseText : kPreviewUnreadableText));
        return;
    }
    wchar_t text[kPreviewBytes + 1];
    DecodePreview(bytes, read, read == kPreviewBytes, text);
    SetDlgItemTextW(page, kStreamPreview, text);
}

void PropNtfsObject::DeleteStream(HWND page) {
    StreamPathText path;
    if (!SelectedStreamPath(page, path)) return;
    if (MessageBoxW(page, UiText(kDeleteStreamQuestion), caption_, MB_ICONWARNING | MB_YESNO) != IDYES) return;
    if (!Kernel().DeleteFileW(path.Get())) {
        Tell(page, GetLastError() == ERROR_SHARING_VIOLATION ? kStreamInUseText : kDeleteFailedText, MB_ICONERROR);
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

bool PropNtfsObject::TellOutcome(HWND page, StreamOutcome outcome, const OutcomeTexts& texts) {
    UINT text = 0;
    switch (outcome) {
    case StreamOutcome::Done: return true;
    case StreamOutcome::Cancelled: return false;
    case StreamOutcome::Exists: text = texts.exists; break;
    case StreamOutcome::InUse: text = kStreamInUseText; break;
    case StreamOutcome::TargetInUse: text = kFileInUseText; break;
    case StreamOutcome::OutOfMemory: text = kOutOfMemoryText; break;
    case StreamOutcome::CreateFailed: text = texts.notCreated; break;
    case StreamOutcome::WriteFailed: text = texts.writeFailed; break;
    default: text = texts.readFailed; break;
    }
    Tell(page, text, MB_ICONERROR);
    return false;
}

// The copies run on a worker (RunWithProgress); the page's object stays while the page's thread
// waits for it, even if the sheet is closed meanwhile.
void PropNtfsObject::NewStreamFromFile(HWND page) {
    wchar_t file[MAX_PATH] = {};
    if (!ShowOpenFileDialog(page, file, MAX_PATH, nullptr, nullptr, 1, false)) return;
    Held held(this);
    ScopedHandle source(OpenToRead(file));
    if (!source.Valid()) return Tell(page, kFileOpenFailedText, MB_ICONERROR);
    wchar_t name[MAX_PATH];
    StreamPathText path;
    if (!AskStreamName(page, name)) return;
    if (!StreamPath(page, name, path)) return;
    auto copy = [&](CopyProgress* progress) { return CopyIntoNew(source.Get(), path.Get(), progress); };
    StreamOutcome outcome = RunWithProgress(page, copy);
    const OutcomeTexts texts = {kStreamExistsText, kStreamCreateFailedText, kFileReadFailedText, kStreamWriteFailedText};
    if (TellOutcome(page, outcome, texts) && IsWindow(page)) FillStreamList(page);
}

// Written whole beside the chosen file before a byte of it changes; the file itself stays the same
// file (see SaveStreamTo).
void PropNtfsObject::SaveStreamToFile(HWND page) {
    StreamPathText path;
    if (!SelectedStreamPath(page, path)) return;
    wchar_t file[MAX_PATH];
    FirstFreeName(filePath_, L".Stream", L"", file);
    if (!ShowSaveFileDialog(page, file, MAX_PATH, nullptr, nullptr, 1)) return;
    wchar_t beside[MAX_PATH], former[MAX_PATH];
    FirstFreeName(file, L".~", L".tmp", beside);
    FirstFreeName(file, L".~former", L".tmp", former);
    if (!beside[0] || !former[0]) return Tell(page, kFileCreateFailedText, MB_ICONERROR);
    Held held(this);
    auto save = [&](CopyProgress* progress) { return SaveStreamTo(path.Get(), file, beside, former, progress); };
    StreamOutcome outcome = RunWithProgress(page, save);
    if (outcome == StreamOutcome::FormerContentKept) {
        wchar_t text[1024];
        BoundedText told(text, 1024);
        told.Append(UiText(kFormerContentKeptText)).Append(L"\n").AppendCut(former);
        MessageBoxW(page, text, caption_, MB_ICONERROR);
        return;
    }
    const OutcomeTexts texts = {kFileCreateFailedText, kFileCreateFailedText, kStreamReadFailedText, kFileWriteFailedText};
    TellOutcome(page, outcome, texts);
}

// In place where the volume can; otherwise a copy under the new name, and the old name goes only
// once the copy is whole (see RenameStreamTo). The new name must be free.
void PropNtfsObject::RenameStream(HWND page) {
    StreamPathText oldPath;
    if (!SelectedStreamPath(page, oldPath)) return;
    wchar_t name[MAX_PATH];
    StreamPathText newPath;
    if (!AskStreamName(page, name)) return;
    if (!StreamPath(page, name, newPath)) return;
    // "note" renamed to "NOTE" names the same stream (NTFS ignores case): it stays as it is.
    if (CompareStringOrdinal(oldPath.Get(), -1, newPath.Get(), -1, TRUE) == CSTR_EQUAL) return;
    Held held(this);
    auto rename = [&](CopyProgress* progress) { return RenameStreamTo(oldPath.Get(), newPath.Get(), name, progress); };
    StreamOutcome outcome = RunWithProgress(page, rename);
    const OutcomeTexts texts = {kStreamExistsText, kRenameKeptOldText, kRenameKeptOldText, kRenameKeptOldText};
    if (TellOutcome(page, outcome, texts) && IsWindow(page)) FillStreamList(page);
}

} // namespace kestrune
