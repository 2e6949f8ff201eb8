// The link section: the count label, the enumeration worker and its start and stop, and the
// deletion of one path.
//
// The worker never touches the page: it posts two notices and leaves everything else to the
// page's thread, which may itself be waiting for the worker (the object's destruction), so a
// sent message from the worker could deadlock Explorer.
#include "shell/propntfs/propntfs_object.h"

#include <commctrl.h>

#include <cwchar>

#include "ntfs/hardlinks.h"
#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "server/module.h"

namespace kestrune {
namespace {

constexpr int kCaptionChars = 64;

bool ReadListLine(HWND list, LRESULT index, wchar_t (&line)[MAX_PATH]) {
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR || length >= MAX_PATH) return false;
    return SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(line)) != LB_ERR;
}

} // namespace

void PropNtfsObject::ShowLinkCount(HWND page, const wchar_t* path) {
    wchar_t text[kCaptionChars];
    swprintf(text, kCaptionChars, UiText(kLinkCountFormat), path ? GetHardLinkCount(path) : 0);
    SetDlgItemTextW(page, kLinkCountLabel, text);
}

void PropNtfsObject::StartOrStopEnumeration(HWND page) {
    wchar_t caption[kCaptionChars] = {};
    GetDlgItemTextW(page, kEnumerateButton, caption, kCaptionChars);
    if (lstrcmpW(caption, UiText(kEnumerateText)) != 0) {
        if (enumThread_) Kernel().ResetEvent(runEvent_);
        return;
    }
    if (enumThread_) return; // the last worker's end is still on its way
    SetDlgItemTextW(page, kEnumerateButton, UiText(kStopText));
    SendDlgItemMessageW(page, kLinkList, LB_RESETCONTENT, 0, 0);

    // The worker holds a module lock and a reference to this library's file until its last
    // instruction, which is FreeLibraryAndExitThread in the system's code.
    runEvent_ = Kernel().CreateEventW(nullptr, TRUE, TRUE, nullptr);
    HMODULE library = nullptr;
    bool referenced = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                         reinterpret_cast<LPCWSTR>(&WorkerMain), &library) != FALSE;
    HANDLE thread = nullptr;
    if (runEvent_ && referenced) {
        workerPage_ = page;
        workerLibrary_ = library;
        outcome_ = Outcome::CountFailed;
        foundCount_ = -1;
        Module().Lock();
        // Suspended, so the handle is ours before the thread can run.
        thread = CreateThread(nullptr, 0, WorkerMain, this, CREATE_SUSPENDED, nullptr);
        if (!thread) Module().Unlock();
    }
    if (!thread) {
        if (referenced) FreeLibrary(library);
        if (runEvent_) Kernel().CloseHandle(runEvent_);
        runEvent_ = nullptr;
        SetDlgItemTextW(page, kEnumerateButton, UiText(kEnumerateText));
        MessageBoxW(page, UiText(kEnumerationFailedText), caption_, MB_ICONERROR);
        return;
    }
    enumThread_ = thread;
    ResumeThread(thread);
}

DWORD WINAPI PropNtfsObject::WorkerMain(void* parameter) {
    auto* self = static_cast<PropNtfsObject*>(parameter);
    HWND page = self->workerPage_;
    HMODULE library = self->workerLibrary_;
    self->Enumerate();
    // From here on the object may be going: only locals are used.
    PostMessageW(page, kEnumerationEndedMessage, 0, 0);
    Module().Unlock();
    FreeLibraryAndExitThread(library, 0);
}

void PropNtfsObject::Enumerate() {
    int count = GetHardLinkCount(filePath_);
    if (count < 0) return;
    if (count == 1) {
        outcome_ = Outcome::SingleLink;
        return;
    }
    outcome_ = Outcome::Scanned;
    PostMessageW(workerPage_, kScanStartedMessage, 0, 0);
    size_t chars = (count > 0 ? static_cast<size_t>(count) : 1) * MAX_PATH;
    found_ = static_cast<wchar_t*>(Kernel().GlobalAlloc(GPTR, chars * sizeof(wchar_t)));
    if (found_) foundCount_ = EnumerateHardLinks(filePath_, found_, chars, runEvent_);
}

// Reaps the worker whose end notice arrived and shows what it found.
void PropNtfsObject::FinishEnumeration(HWND page) {
    if (!enumThread_) return;
    bool scanned = outcome_ == Outcome::Scanned;
    Outcome outcome = outcome_;
    int count = foundCount_;
    wchar_t* found = found_;
    found_ = nullptr;
    EndWorker();
    if (scanned) {
        SendDlgItemMessageW(page, kAnimation, ACM_OPENW, 0, 0);
        InvalidateRect(GetDlgItem(page, kAnimation), nullptr, TRUE);
    }
    HWND list = GetDlgItem(page, kLinkList);
    if (outcome == Outcome::SingleLink) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(filePath_));
    if (found) {
        wchar_t line[MAX_PATH];
        for (int i = 0; i < count && GetTextLine(found, line, i) >= 0; ++i)
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
        Kernel().GlobalFree(found);
    }
    SetDlgItemTextW(page, kEnumerateButton, UiText(kEnumerateText));
    if (outcome == Outcome::CountFailed) MessageBoxW(page, UiText(kEnumerationFailedText), caption_, MB_ICONERROR);
}

// Stops the worker, waits for its end and releases what it used. The worker only posts to the
// page, so waiting here on the page's thread cannot deadlock.
void PropNtfsObject::EndWorker() {
    if (enumThread_) {
        Kernel().ResetEvent(runEvent_);
        WaitForSingleObject(enumThread_, INFINITE);
        CloseHandle(enumThread_);
        enumThread_ = nullptr;
    }
    if (runEvent_) Kernel().CloseHandle(runEvent_);
    runEvent_ = nullptr;
    if (found_) Kernel().GlobalFree(found_);
    found_ = nullptr;
}

void PropNtfsObject::DeleteLink(HWND page) {
    HWND list = GetDlgItem(page, kLinkList);
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    wchar_t path[MAX_PATH];
    if (selected == LB_ERR || !ReadListLine(list, selected, path)) return;
    if (MessageBoxW(page, UiText(kDeleteLinkQuestion), caption_, MB_ICONWARNING | MB_YESNO) != IDYES) return;
    if (GetHardLinkCount(path) == 1 &&
        MessageBoxW(page, UiText(kLastLinkQuestion), caption_, MB_ICONWARNING | MB_YESNO) != IDYES)
        return;
    if (!Kernel().DeleteFileW(path)) {
        Tell(page, kDeleteFailedText, MB_ICONERROR);
        return;
    }
    // The streams section named the file by this path: "New" would make an empty file there.
    if (IsSamePath(path, filePath_)) CloseStreamSection(page);
    SendMessageW(list, LB_DELETESTRING, selected, 0);
    wchar_t first[MAX_PATH];
    ShowLinkCount(page, ReadListLine(list, 0, first) ? first : nullptr);
}

} // namespace kestrune
