#include "shell/propntfs/copy_progress.h"

#include <commctrl.h>

#include "server/module.h"
#include "shell/ui_language.h"

namespace kestrune {
namespace {

// What the worker reads and writes; it lives on the caller's stack, which waits for the worker's end.
struct CopyJob {
    CopyWork work;
    void* context;
    CopyProgress progress;
    StreamOutcome outcome = StreamOutcome::Cancelled;
    HMODULE library = nullptr;
};

DWORD WINAPI CopyWorker(void* parameter) {
    auto* job = static_cast<CopyJob*>(parameter);
    HMODULE library = job->library;
    job->outcome = job->work(job->context, &job->progress);
    Module().Unlock();
    FreeLibraryAndExitThread(library, 0);
}

INT_PTR CALLBACK ProgressProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SendDlgItemMessageW(dialog, kCopyProgressBar, PBM_SETRANGE32, 0, 1000);
        return TRUE;
    }
    auto* progress = reinterpret_cast<CopyProgress*>(GetWindowLongPtrW(dialog, DWLP_USER));
    bool cancel = (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE;
    if (cancel && progress) {
        InterlockedExchange(&progress->cancelled, 1);
        EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
        return TRUE;
    }
    return FALSE;
}

HANDLE StartWorker(CopyJob& job) {
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&CopyWorker),
                            &job.library))
        return nullptr;
    Module().Lock();
    HANDLE thread = CreateThread(nullptr, 0, CopyWorker, &job, 0, nullptr);
    if (!thread) {
        Module().Unlock();
        FreeLibrary(job.library);
    }
    return thread;
}

} // namespace

StreamOutcome RunWithProgress(HWND owner, CopyWork work, void* context) {
    CopyJob job{work, context, {}};
    HANDLE thread = StartWorker(job);
    if (!thread) return work(context, &job.progress);
    HWND root = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
    bool enabled = root && !EnableWindow(root, FALSE);
    DWORD started = GetTickCount();
    HWND dialog = nullptr;
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        if (MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0) break;
        if (!dialog && GetTickCount() - started >= kProgressDelayMilliseconds) {
            if (const DLGTEMPLATE* dialogTemplate = UiDialog(kCopyProgressDialog))
                dialog = CreateDialogIndirectParamW(Module().instance, dialogTemplate, root, ProgressProcedure,
                                                    reinterpret_cast<LPARAM>(&job.progress));
            if (dialog) ShowWindow(dialog, SW_SHOW);
        }
        LONG64 total = InterlockedCompareExchange64(&job.progress.total, 0, 0);
        LONG64 copied = InterlockedCompareExchange64(&job.progress.copied, 0, 0);
        if (dialog && total > 0)
            SendDlgItemMessageW(dialog, kCopyProgressBar, PBM_SETPOS, static_cast<WPARAM>(copied * 1000 / total), 0);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // The host is ending: the copy is cancelled and the quit passed on once it has stopped.
                quit = true;
                quitCode = message.wParam;
                InterlockedExchange(&job.progress.cancelled, 1);
                break;
            }
            if (dialog && IsDialogMessageW(dialog, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    CloseHandle(thread);
    if (enabled) EnableWindow(root, TRUE);
    if (dialog) DestroyWindow(dialog);
    if (quit) PostQuitMessage(static_cast<int>(quitCode));
    return job.outcome;
}

} // namespace kestrune
