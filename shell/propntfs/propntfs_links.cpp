// The link section: the count label, the enumeration worker and its start and stop, and the
// deletion of one path.
//
// The worker never touches the page: it posts two notices and leaves everything else to the
// page's thread, which may itself be waiting for the worker (the object's destruction), so a
// sent message from the worker could deadlock Explorer.
#include "shell/propntfs/propntfs_object.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cwchar>
#include <initializer_list>
#include <new>

#include "ntfs/links/hardlinks.h"
#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "server/module.h"

namespace kestrune {
namespace {

constexpr int kCaptionChars = 64;
constexpr DWORD kWorkerGraceMilliseconds = 500;

bool ReadListLine(HWND list, LRESULT index, wchar_t (&line)[MAX_PATH]) {
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR || length >= MAX_PATH) return false;
    return SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(line)) != LB_ERR;
}

} // namespace

// The held file's own count: a folder's too (1), and 0 once the file is gone.
void PropNtfsObject::ShowLinkCount(HWND page) {
    wchar_t text[kCaptionChars];
    swprintf(text, kCaptionChars, UiText(kLinkCountFormat), HeldLinkCount(file_.Get()));
    SetDlgItemTextW(page, kLinkCountLabel, text);
}

bool PropNtfsObject::FileGone(HWND page) {
    if (gone_) return true;
    if (HeldLinkCount(file_.Get()) != 0) return false;
    gone_ = true;
    EndWorker();
    SetDlgItemTextW(page, kEnumerateButton, UiText(kEnumerateText));
    SendDlgItemMessageW(page, kLinkList, LB_RESETCONTENT, 0, 0);
    for (int id : {kEnumerateButton, kDeleteLinkButton, kLinkList}) EnableWindow(GetDlgItem(page, id), FALSE);
    CloseStreamSection(page);
    ShowLinkCount(page);
    Tell(page, kFileGoneText, MB_ICONINFORMATION);
    return true;
}

// What the page's object and its worker share. The worker writes the outcome before it posts its
// end notice; the object reads it only after that notice.
struct PropNtfsObject::LinkWork {
    enum class Outcome { CountFailed, SingleLink, Scanned, OnNetworkDrive };
    LONG references = 2; // the object's and the worker's
    HANDLE runEvent = nullptr;
    HWND page = nullptr;
    HMODULE library = nullptr;
    // The file's current "\\?\" path when the enumeration began, and its link count then.
    wchar_t path[MAX_PATH + 8] = {};
    int links = -1;
    Outcome outcome = Outcome::CountFailed;
    int count = -1;
    wchar_t* found = nullptr;

    void Enumerate();
    // The last reference frees the block and everything it holds.
    void Release() {
        if (InterlockedDecrement(&references) != 0) return;
        if (runEvent) Kernel().CloseHandle(runEvent);
        if (found) Kernel().GlobalFree(found);
        delete this;
    }
};

void PropNtfsObject::StartOrStopEnumeration(HWND page) {
    wchar_t caption[kCaptionChars] = {};
    GetDlgItemTextW(page, kEnumerateButton, caption, kCaptionChars);
    if (lstrcmpW(caption, UiText(kEnumerateText)) != 0) {
        if (work_) Kernel().ResetEvent(work_->runEvent);
        return;
    }
    if (enumThread_) return; // the last worker's end is still on its way
    // The search takes paths within MAX_PATH: a longer one is refused in words, never cut.
    if (HeldFilePathChars(file_.Get()) > MAX_PATH) return Tell(page, kLinksPathTooLongText, MB_ICONERROR);
    SetDlgItemTextW(page, kEnumerateButton, UiText(kStopText));
    SendDlgItemMessageW(page, kLinkList, LB_RESETCONTENT, 0, 0);
    ShowLinkCount(page); // links made or deleted elsewhere since

    // The worker holds a module lock and a reference to this library's file until its last
    // instruction, which is FreeLibraryAndExitThread in the system's code.
    auto* work = new (std::nothrow) LinkWork;
    HANDLE thread = nullptr;
    if (work) {
        work->page = page;
        // A path that does not fit is not cut: the enumeration fails and says so.
        if (CurrentPath(work->path, MAX_PATH + 8) == 1) work->links = HeldLinkCount(file_.Get());
        work->runEvent = Kernel().CreateEventW(nullptr, TRUE, TRUE, nullptr);
        bool referenced = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                             reinterpret_cast<LPCWSTR>(&WorkerMain), &work->library) != FALSE;
        if (work->runEvent && referenced) {
            Module().Lock();
            // Suspended, so the handle is ours before the thread can run.
            thread = CreateThread(nullptr, 0, WorkerMain, work, CREATE_SUSPENDED, nullptr);
            if (!thread) Module().Unlock();
        }
        if (!thread) {
            if (referenced) FreeLibrary(work->library);
            work->references = 1;
            work->Release();
        }
    }
    if (!thread) {
        SetDlgItemTextW(page, kEnumerateButton, UiText(kEnumerateText));
        MessageBoxW(page, UiText(kEnumerationFailedText), caption_, MB_ICONERROR);
        return;
    }
    enumThread_ = thread;
    work_ = work;
    ResumeThread(thread);
}

DWORD WINAPI PropNtfsObject::WorkerMain(void* parameter) {
    auto* work = static_cast<LinkWork*>(parameter);
    HWND page = work->page;
    HMODULE library = work->library;
    work->Enumerate();
    PostMessageW(page, kEnumerationEndedMessage, 0, 0);
    // From here on the object may be gone, or may have let this work go: only locals are used.
    work->Release();
    Module().Unlock();
    FreeLibraryAndExitThread(library, 0);
}

void PropNtfsObject::LinkWork::Enumerate() {
    if (links <= 0) return;
    if (links == 1) {
        outcome = Outcome::SingleLink;
        return;
    }
    outcome = Outcome::Scanned;
    PostMessageW(page, kScanStartedMessage, 0, 0);
    size_t chars = (links > 0 ? static_cast<size_t>(links) : 1) * MAX_PATH;
    found = static_cast<wchar_t*>(Kernel().GlobalAlloc(GPTR, chars * sizeof(wchar_t)));
    if (found) count = EnumerateHardLinks(path, found, chars, runEvent);
    if (count == kLinksOnNetworkDrive) outcome = Outcome::OnNetworkDrive;
}

// Shows what the worker found once its end notice arrived; the worker lets go on its own.
void PropNtfsObject::FinishEnumeration(HWND page) {
    if (!enumThread_) return;
    LinkWork* work = work_;
    SendDlgItemMessageW(page, kAnimation, ACM_OPENW, 0, 0);
    InvalidateRect(GetDlgItem(page, kAnimation), nullptr, TRUE);
    HWND list = GetDlgItem(page, kLinkList);
    // Each path as a user reads it; deleting one names it exactly again.
    wchar_t line[MAX_PATH + 8], shown[MAX_PATH + 8];
    if (work->outcome == LinkWork::Outcome::SingleLink && MakeShownPath(work->path, shown, MAX_PATH + 8))
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown));
    for (int i = 0; work->found && i < work->count && GetTextLine(work->found, line, i) >= 0; ++i)
        if (MakeShownPath(line, shown, MAX_PATH + 8)) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown));
    // The page's own entry is selected: the name the file is held through now, as the system names it,
    // however the page was opened (a junction, a SUBST letter, a short name).
    if (CurrentPath(line, MAX_PATH + 8) == 1 && MakeShownPath(line, shown, MAX_PATH + 8)) {
        LRESULT own = SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(shown));
        if (own != LB_ERR) SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(own), 0);
    }
    SetDlgItemTextW(page, kEnumerateButton, UiText(kEnumerateText));
    LinkWork::Outcome outcome = work->outcome;
    EndWorker();
    if (outcome == LinkWork::Outcome::CountFailed) MessageBoxW(page, UiText(kEnumerationFailedText), caption_, MB_ICONERROR);
    if (outcome == LinkWork::Outcome::OnNetworkDrive) MessageBoxW(page, UiText(kNetworkLinksText), caption_, MB_ICONINFORMATION);
}

// Stops the worker and lets go of it. Its end is awaited a little only: a call to a slow drive must
// not hold the sheet's thread; left behind, the worker frees what it holds when that call returns.
// The worker only posts to the page, so the wait cannot deadlock.
void PropNtfsObject::EndWorker() {
    if (!enumThread_) return;
    Kernel().ResetEvent(work_->runEvent);
    WaitForSingleObject(enumThread_, kWorkerGraceMilliseconds);
    CloseHandle(enumThread_);
    enumThread_ = nullptr;
    work_->Release();
    work_ = nullptr;
}

void PropNtfsObject::DeleteLink(HWND page) {
    HWND list = GetDlgItem(page, kLinkList);
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    wchar_t path[MAX_PATH], exact[MAX_PATH + 8];
    if (selected == LB_ERR || !ReadListLine(list, selected, path)) return;
    // Exactly the listed name: "b." is not "b", and a long path is not cut.
    if (!MakeVerbatimPath(path, exact, MAX_PATH + 8)) return Tell(page, kDeleteFailedText, MB_ICONERROR);
    if (MessageBoxW(page, UiText(kDeleteLinkQuestion), caption_, MB_ICONWARNING | MB_YESNO) != IDYES) return;
    if (HeldLinkCount(file_.Get()) == 1 &&
        MessageBoxW(page, UiText(kLastLinkQuestion), caption_, MB_ICONWARNING | MB_YESNO) != IDYES)
        return;
    if (!Kernel().DeleteFileW(exact)) {
        Tell(page, kDeleteFailedText, MB_ICONERROR);
        return;
    }
    SendMessageW(list, LB_DELETESTRING, selected, 0);
    // Explorer's views drop the path and refresh the count the other paths show.
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, path, nullptr);
    for (LRESULT i = 0; ReadListLine(list, i, path); ++i) SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, path, nullptr);
    ShowLinkCount(page);
    // The page goes on through the file's other names; with none left there is nothing to act on.
    if (HeldLinkCount(file_.Get()) == 0) {
        gone_ = true;
        CloseStreamSection(page);
    }
}

} // namespace kestrune
