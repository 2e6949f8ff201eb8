// kestrune-try: plays Explorer's part for the handlers that Wine's shell does not load (drop,
// folder menu, copy hook, overlays), loading each from the installed handler keys by CLSID
// through CoCreateInstance, as Explorer does.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "tools/try/commands.h"
#include "tools/try/console.h"
#include "tools/try/handlers.h"
#include "tools/try/message_answers.h"
#include "tools/try/run_limit.h"
#include "tools/try/scripted_steps.h"
#include "tools/try/shell_items.h"

namespace kestrune::trying {
namespace {

const wchar_t kUsageText[] =
    L"usage: kestrune-try [--help] [--pick ITEM] [--answer yes|no] [--steps SCRIPT] [--timeout SECONDS] COMMAND ARGUMENTS\n"
    L"  status             where Kestrune is installed and which of its classes this build has\n"
    L"  drop FILE FOLDER   the right-drag menu of FILE dropped on FOLDER; runs the chosen item\n"
    L"  menu FOLDER        the folder's context menu from the installed handlers; runs the chosen item\n"
    L"  delete FOLDER      asks the copy hooks, then deletes FOLDER (for good) through the shell only on yes\n"
    L"  copy FOLDER DEST   asks the copy hooks, then copies FOLDER into DEST through the shell only on yes\n"
    L"  overlay PATH       which overlay identifiers claim PATH, and their icons\n"
    L"  properties PATH    opens PATH's Properties through the shell's own \"properties\" verb\n"
    L"options:\n"
    L"  --pick ITEM        choose the menu item by its number (as listed; 0 cancels) or text instead of showing the menu\n"
    L"  --answer yes|no    answer the handlers' message boxes (and print them) instead of waiting\n"
    L"  --steps SCRIPT     drive and photograph the windows the command opens (tools/try/scripted_steps.h)\n"
    L"  --timeout SECONDS  end the run, closing its windows, after this long (default 300)\n"
    L"exit codes: 0 done, 1 usage, 2 not installed, 3 failed or without effect, 4 a copy hook said no,\n"
    L"  5 a scripted step failed, 6 nothing to offer here (the reason is printed), 7 timed out,\n"
    L"  8 a window would open on a display nobody sees";

constexpr DWORD kSheetWaitMs = 5000;
constexpr DWORD kDefaultLimitSeconds = 300;
constexpr int kLongestLimitSeconds = 86400; // a day: in milliseconds, still far inside a DWORD

class OwnerWindow {
public:
    OwnerWindow()
        : window_(CreateWindowExW(0, L"STATIC", L"kestrune-try", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr)) {}
    ~OwnerWindow() {
        if (window_) DestroyWindow(window_);
    }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND Get() const { return window_; }

private:
    HWND window_;
};

class ComApartment {
public:
    ComApartment() : result_(OleInitialize(nullptr)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) OleUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

int StatusCommand(const std::wstring& server) {
    Print(L"Kestrune is installed: " + server);
    std::wstring help = server.substr(0, server.find_last_of(L'\\') + 1) + L"Kestrune.chm";
    Print(L"help file " + help + (GetFileAttributesW(help.c_str()) == INVALID_FILE_ATTRIBUTES ? L": missing" : L": present"));
    for (const ProductClass& product : kProductClasses) {
        CLSID id;
        CLSIDFromString(product.clsid, &id);
        IUnknown* object = nullptr;
        HRESULT result = CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
        if (object) object->Release();
        std::wstring state = SUCCEEDED(result) ? L"ready"
                             : result == CLASS_E_CLASSNOTAVAILABLE ? L"not in this build yet (CLASS_E_CLASSNOTAVAILABLE)"
                                                                   : L"cannot be created, " + ResultText(result);
        Print(std::wstring(L"  ") + product.name + L" " + product.clsid + L": " + state);
    }
    return kDone;
}

// The shell's own Properties; on Windows the sheet runs on a thread of its own, so this waits
// until no window of the process is left.
int PropertiesCommand(const Options& options, const std::wstring& path) {
    ShellItem item(path);
    ComPtr<IContextMenu> menu;
    HRESULT result = item.ShellMenu(menu);
    if (SUCCEEDED(result)) {
        CMINVOKECOMMANDINFOEX info = {};
        info.cbSize = sizeof info;
        info.fMask = CMIC_MASK_UNICODE;
        info.hwnd = options.owner;
        info.lpVerb = "properties";
        info.lpVerbW = L"properties";
        info.nShow = SW_SHOWNORMAL;
        result = menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
    }
    if (FAILED(result)) {
        PrintError(L"the shell cannot show the Properties of " + path + L": " + ResultText(result));
        return kFailed;
    }
    // Windows opens the sheet a moment later; Wine's shell has already shown and closed it.
    bool seen = false;
    for (DWORD waited = 0;; waited += 100) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        bool open = FirstVisibleWindow() != nullptr;
        seen = seen || open;
        if (!open && (seen || waited >= kSheetWaitMs)) return kDone;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
}

struct Command {
    const wchar_t* name;
    int arguments;
    const wchar_t* shape;
};
const Command kCommands[] = {{L"status", 0, L"status"},         {L"drop", 2, L"drop FILE FOLDER"},
                             {L"menu", 1, L"menu FOLDER"},      {L"delete", 1, L"delete FOLDER"},
                             {L"copy", 2, L"copy FOLDER DEST"}, {L"overlay", 1, L"overlay PATH"},
                             {L"properties", 1, L"properties PATH"}};

int Usage(const std::wstring& wrong) {
    PrintError(L"kestrune-try: " + wrong);
    PrintError(L"kestrune-try --help shows the full usage");
    return kUsage;
}

// The display the windows would open on when nobody can see it: the session's own Xvfb
// (tools/wine-session.sh names it) or none at all. Empty on Windows and on a visible display.
std::wstring HiddenDisplay() {
    wchar_t hidden[64] = {}, display[256] = {};
    if (!GetEnvironmentVariableW(L"KESTRUNE_HIDDEN_DISPLAY", hidden, 64)) return L"";
    GetEnvironmentVariableW(L"DISPLAY", display, 256);
    return display[0] == 0 ? L"(none)" : lstrcmpW(display, hidden) == 0 ? hidden : L"";
}

std::wstring VisibleDisplay() {
    wchar_t display[256] = {};
    return GetEnvironmentVariableW(L"DISPLAY", display, 256) ? display : L"";
}

int Run(int argc, wchar_t** argv) {
    Options options;
    int answer = 0;
    std::wstring steps;
    DWORD limitSeconds = kDefaultLimitSeconds;
    int at = 1;
    if (argc >= 2 && (lstrcmpW(argv[1], L"--help") == 0 || lstrcmpW(argv[1], L"-h") == 0 || lstrcmpW(argv[1], L"/?") == 0)) {
        Print(kUsageText);
        return kDone;
    }
    for (; at < argc && argv[at][0] == L'-'; at += 2) {
        std::wstring option = argv[at];
        if (option != L"--pick" && option != L"--steps" && option != L"--answer" && option != L"--timeout")
            return Usage(L"unknown option " + option);
        if (at + 1 >= argc) return Usage(option + L" needs a value");
        std::wstring value = argv[at + 1];
        if (option == L"--pick") options.pick = value;
        else if (option == L"--steps") steps = value;
        else if (option == L"--answer" && (value == L"yes" || value == L"no")) answer = value == L"yes" ? IDYES : IDNO;
        else if (option == L"--timeout" && _wtoi(value.c_str()) > 0 && _wtoi(value.c_str()) <= kLongestLimitSeconds)
            limitSeconds = static_cast<DWORD>(_wtoi(value.c_str()));
        else return Usage(option + L" takes " + (option == L"--answer" ? L"yes or no" : L"1 to 86400 seconds") + L", not \"" + value + L"\"");
    }
    if (at >= argc) return Usage(L"no command given");
    std::wstring command = argv[at];
    int arguments = argc - at - 1;
    const Command* known = nullptr;
    for (const Command& candidate : kCommands)
        if (command == candidate.name) known = &candidate;
    if (!known) return Usage(L"unknown command \"" + command + L"\"");
    for (int index = at + 1; index < argc; ++index)
        if (argv[index][0] == L'-' && argv[index][1] == L'-')
            return Usage(std::wstring(L"option ") + argv[index] + L" after the command: options come first");
    if (arguments != known->arguments)
        return Usage(command + L" takes " + std::to_wstring(known->arguments) + L" argument(s), " + known->shape + L"; got " +
                     std::to_wstring(arguments));
    ScriptedSteps script;
    std::wstring wrongStep = script.Parse(steps);
    if (!wrongStep.empty()) return Usage(L"--steps: " + wrongStep);
    // Windows that only a person can answer, on a display nobody sees, would wait for ever.
    std::wstring hidden = steps.empty() ? HiddenDisplay() : L"";
    bool showsWindow = command == L"properties" || ((command == L"drop" || command == L"menu") && options.pick.empty());
    if (showsWindow && !hidden.empty()) {
        PrintError(L"kestrune-try: " + command + L" opens a window, and display " + hidden +
                   L" is the session's own Xvfb, where nobody sees it. Choose the item with --pick ITEM, drive the window "
                   L"with --steps 'window; shot C:\\a.bmp; close' (tools/try/scripted_steps.h), or show it on your display: "
                   L"KESTRUNE_DISPLAY=$DISPLAY tools/wine-shell.sh");
        return kNoDisplay;
    }
    if (showsWindow && steps.empty() && !VisibleDisplay().empty())
        Print(L"the window opens on display " + VisibleDisplay() + L"; this run ends by itself after " +
              std::to_wstring(limitSeconds) + L" s");
    ComApartment apartment;
    if (FAILED(apartment.Result())) {
        PrintError(L"COM cannot start: " + ResultText(apartment.Result()));
        return kFailed;
    }
    std::wstring server = InstalledServerPath();
    if (server.empty()) {
        PrintError(L"Kestrune is not installed here: HKEY_CLASSES_ROOT\\CLSID\\" + std::wstring(kProductClasses[0].clsid) +
                   L"\\InprocServer32 names no file. Install it first: msiexec /i Kestrune-<version>-x64.msi");
        return kNotInstalled;
    }
    if (command == L"status") return StatusCommand(server);

    OwnerWindow owner;
    options.owner = owner.Get();
    MessageAnswers answers(answer);
    RunLimit limit(limitSeconds * 1000, hidden);
    if (!script.Start()) return kFailed;
    std::wstring first = argv[at + 1];
    int code = kFailed;
    if (command == L"drop") code = DropCommand(options, first, argv[at + 2]);
    else if (command == L"menu") code = MenuCommand(options, first);
    else if (command == L"delete") code = DeleteCommand(options, first);
    else if (command == L"copy") code = CopyCommand(options, first, argv[at + 2]);
    else if (command == L"overlay") code = OverlayCommand(first);
    else code = PropertiesCommand(options, first);
    int stepsCode = script.Finish();
    if (limit.TimedOut()) return kTimedOut;
    if (limit.WindowUnseen()) return kNoDisplay;
    if (code == kDone && !answers.ErrorShown().empty()) {
        PrintError(L"the extension showed an error: " + answers.ErrorShown());
        return kFailed;
    }
    return code == kDone && stepsCode ? stepsCode : code;
}

} // namespace
} // namespace kestrune::trying

int wmain(int argc, wchar_t** argv) { return kestrune::trying::Run(argc, argv); }
