#include "shell/reparsepoint/elevation.h"

#include <objbase.h>
#include <shellapi.h>

#include <atomic>
#include <cwchar>

#include "server/module.h"

namespace kestrune {
namespace {

struct Launch {
    HWND owner;
    const wchar_t* program;
    const wchar_t* parameters;
    DWORD result;
};

// On a worker thread: ShellExecuteEx may run shell extensions and waits on the prompt, and the
// helper's wait must not stop the owner's thread.
DWORD WINAPI LaunchAndWait(void* argument) {
    auto* launch = static_cast<Launch*>(argument);
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = launch->owner;
    info.lpVerb = L"runas";
    info.lpFile = launch->program;
    info.lpParameters = launch->parameters;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) {
        launch->result = GetLastError(); // ERROR_CANCELLED: the user declined
    } else if (!info.hProcess) {
        launch->result = ERROR_GEN_FAILURE;
    } else {
        DWORD code = ERROR_GEN_FAILURE;
        WaitForSingleObject(info.hProcess, INFINITE);
        launch->result = GetExitCodeProcess(info.hProcess, &code) ? code : GetLastError();
        CloseHandle(info.hProcess);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

DWORD WINAPI SystemRunElevated(HWND owner, const wchar_t* program, const wchar_t* parameters) {
    Launch launch = {owner, program, parameters, ERROR_GEN_FAILURE};
    HANDLE worker = CreateThread(nullptr, 0, LaunchAndWait, &launch, 0, nullptr);
    if (!worker) return GetLastError();
    // The owner's window stays painted but takes no input until the helper ends.
    HWND root = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
    bool disabled = root && !EnableWindow(root, FALSE);
    while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam)); // for the owner's loop, after the wait
                WaitForSingleObject(worker, INFINITE);
                break;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (disabled) EnableWindow(root, TRUE);
    CloseHandle(worker);
    return launch.result;
}

const ElevationApi systemElevation = {SystemRunElevated};
std::atomic<const ElevationApi*> current{nullptr};

} // namespace

const ElevationApi& SystemElevation() { return systemElevation; }

const ElevationApi& Elevation() {
    const ElevationApi* api = current.load(std::memory_order_acquire);
    return api ? *api : systemElevation;
}

const ElevationApi* ReplaceElevationApi(const ElevationApi* api) {
    const ElevationApi* previous = current.exchange(api, std::memory_order_acq_rel);
    return previous ? previous : &systemElevation;
}

DWORD RunElevatedOperation(HWND owner, ElevatedOperation operation, const wchar_t* folder, const wchar_t* argument) {
    wchar_t program[MAX_PATH];
    DWORD length = GetModuleFileNameW(Module().instance, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    wchar_t* name = wcsrchr(program, L'\\');
    size_t folderChars = name ? static_cast<size_t>(name + 1 - program) : 0;
    if (folderChars + wcslen(kElevatedHelperName) >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    wcscpy(program + folderChars, kElevatedHelperName);
    wchar_t parameters[3 * MAX_PATH + 64];
    if (!FormatElevatedCommand(operation, folder, argument, parameters, sizeof parameters / sizeof *parameters))
        return ERROR_BAD_ARGUMENTS;
    return Elevation().RunElevated(owner, program, parameters);
}

} // namespace kestrune
