// One run of links for a drop: on a worker that holds the module and its file, with the shell's
// progress dialog after about a second, the shell told of each new item, and one message at the end
// that lists what could not be made.
#include "shell/hardlink/hardlink_object.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <new>

#include "ntfs/kernel.h"
#include "ntfs/paths.h"
#include "server/module.h"
#include "shell/bounded_text.h"
#include "shell/ui_language.h"

namespace kestrune {
namespace {

constexpr ULONGLONG kProgressAfterMilliseconds = 1000;
constexpr int kListedFailures = 20;   // lines of the final message; the rest are counted
constexpr size_t kMessageChars = 8192;
constexpr UINT kSeries[3][2] = {{kFirstLinkNamePrefix, kNumberedLinkNamePrefix},
                                {kFirstSymbolicLinkNamePrefix, kNumberedSymbolicLinkNamePrefix},
                                {kFirstJunctionNamePrefix, kNumberedJunctionNamePrefix}};

UINT ReasonOf(LinkFailure why, DWORD error) {
    switch (why) {
    case LinkFailure::ItemMissing: return kItemMissingReason;
    case LinkFailure::NameTooLong: return kNameTooLongReason;
    case LinkFailure::FolderMissing: return kFolderMissingReason;
    default: break;
    }
    switch (error) {
    case ERROR_ACCESS_DENIED: return kAccessDeniedReason;
    case ERROR_TOO_MANY_LINKS: return kTooManyLinksReason;
    case ERROR_SHARING_VIOLATION: return kInUseReason;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION: return kNotSupportedReason;
    default: return kRefusedReason;
    }
}

// What the user sees of one run, and what the shell is told.
class ShownRun : public LinkSink {
public:
    ShownRun(LinkKind kind, size_t total, HWND owner, bool ui)
        : kind_(kind), total_(total), owner_(owner), ui_(ui), start_(GetTickCount64()), list_(message_, kMessageChars) {
        LoadUiString(kCaptionText, caption_, 100);
        list_.Append(UiText(kLinksNotMadeText));
    }
    ~ShownRun() {
        if (!progress_) return;
        progress_->StopProgressDialog();
        progress_->Release();
    }
    ShownRun(const ShownRun&) = delete;
    ShownRun& operator=(const ShownRun&) = delete;

    bool GoOn(size_t done, const wchar_t* item) override {
        if (ui_ && !progress_ && !progressTried_ && GetTickCount64() - start_ >= kProgressAfterMilliseconds) ShowProgress();
        if (!progress_) return true;
        wchar_t line[128];
        swprintf(line, 128, UiText(kLinkProgressText), static_cast<int>(done), static_cast<int>(total_));
        progress_->SetLine(1, line, FALSE, nullptr);
        progress_->SetLine(2, item, TRUE, nullptr);
        progress_->SetProgress64(done, total_);
        return !progress_->HasUserCancelled();
    }

    void Made(const wchar_t* item, const wchar_t* link, bool folder) override {
        SHChangeNotify(folder ? SHCNE_MKDIR : SHCNE_CREATE, SHCNF_PATHW, link, nullptr);
        // A hard link changes the dragged file's link count, and so its overlay.
        if (kind_ == LinkKind::Hard) SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW, item, nullptr);
    }

    void Failed(const wchar_t* item, LinkFailure why, DWORD error) override {
        if (why == LinkFailure::NoRight) {
            noRight_ = true;
            return;
        }
        if (failures_++ >= kListedFailures) return;
        wchar_t reason[256];
        swprintf(reason, 256, UiText(ReasonOf(why, error)), static_cast<unsigned long>(error));
        list_.Append(L"\n").Append(item).Append(L": ").Append(reason);
    }

    // The one message of the run, none when every link was made.
    void Finish(int made) {
        if (progress_) {
            progress_->StopProgressDialog();
            progress_->Release();
            progress_ = nullptr;
        }
        if (!ui_) return;
        if (noRight_) {
            MessageBoxW(owner_, UiText(kSymbolicLinkRightText), caption_, MB_ICONERROR);
        } else if (made < 0 && failures_ == 0) {
            MessageBoxW(owner_, UiText(kCreateHardLinkFailedText), caption_, MB_ICONERROR);
        } else if (failures_) {
            if (failures_ > kListedFailures) {
                wchar_t more[128];
                swprintf(more, 128, UiText(kMoreFailuresText), failures_ - kListedFailures);
                list_.Append(L"\n").Append(more);
            }
            MessageBoxW(owner_, message_, caption_, MB_ICONERROR);
        }
    }

private:
    void ShowProgress() {
        progressTried_ = true;
        if (FAILED(CoCreateInstance(CLSID_ProgressDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IProgressDialog,
                                    reinterpret_cast<void**>(&progress_))))
            return;
        progress_->SetTitle(caption_);
        if (FAILED(progress_->StartProgressDialog(owner_, nullptr, PROGDLG_NORMAL | PROGDLG_NOMINIMIZE, nullptr))) {
            progress_->Release();
            progress_ = nullptr;
        }
    }

    LinkKind kind_;
    size_t total_;
    HWND owner_;
    bool ui_;
    ULONGLONG start_;
    wchar_t caption_[100] = {};
    wchar_t message_[kMessageChars] = {};
    BoundedText list_;
    IProgressDialog* progress_ = nullptr;
    bool progressTried_ = false;
    bool noRight_ = false;
    int failures_ = 0;
};

// What the worker owns: a copy of the drop, and its references to the library.
struct LinkWork {
    LinkKind kind;
    HWND owner;
    bool ui;
    HMODULE library = nullptr;
    wchar_t folder[MAX_PATH] = {};
    NameList items;
};

DWORD WINAPI LinkWorker(void* parameter) {
    auto* work = static_cast<LinkWork*>(parameter);
    HMODULE library = work->library;
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RunLinkJob(work->kind, work->folder, work->items, work->owner, work->ui);
    delete work;
    if (SUCCEEDED(com)) CoUninitialize();
    Module().Unlock();
    FreeLibraryAndExitThread(library, 0);
}

} // namespace

void RunLinkJob(LinkKind kind, const wchar_t* folder, const NameList& items, HWND owner, bool ui) {
    UINT kindIndex = static_cast<UINT>(kind);
    UiText first(kSeries[kindIndex][0]), numbered(kSeries[kindIndex][1]);
    LinkSeries series = {first, numbered};
    ShownRun shown(kind, items.Count(), owner, ui);
    int made = MakeDropLinks(kind, folder, items, series, shown);
    if (made < 0 && !IsExistingFolder(folder)) shown.Failed(folder, LinkFailure::FolderMissing, ERROR_PATH_NOT_FOUND);
    shown.Finish(made);
}

bool StartLinkJob(LinkKind kind, const wchar_t* folder, const NameList& items, HWND owner, bool ui) {
    auto* work = new (std::nothrow) LinkWork;
    if (!work) return false;
    work->kind = kind;
    work->owner = owner;
    work->ui = ui;
    wcsncpy(work->folder, folder, MAX_PATH - 1);
    bool copied = true;
    for (size_t i = 0; i < items.Count() && copied; ++i) copied = work->items.Add(items[i], wcslen(items[i]));
    // The worker holds a module lock and a reference to this library's file until its last
    // instruction, which is FreeLibraryAndExitThread in the system's code.
    bool referenced = copied && GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                                   reinterpret_cast<LPCWSTR>(&LinkWorker), &work->library) != FALSE;
    HANDLE thread = nullptr;
    if (referenced) {
        Module().Lock();
        thread = CreateThread(nullptr, 0, LinkWorker, work, 0, nullptr);
        if (!thread) Module().Unlock();
    }
    if (!thread) {
        if (referenced) FreeLibrary(work->library);
        delete work;
        return false;
    }
    CloseHandle(thread);
    return true;
}

} // namespace kestrune
