// The try host's commands. Each returns the process exit code.
#pragma once
#include <windows.h>

#include <string>

namespace kestrune::trying {

enum ExitCode {
    kDone = 0,
    kUsage = 1,
    kNotInstalled = 2,
    kFailed = 3,       // a handler refused, offered nothing, or the operation failed
    kHookSaidNo = 4,   // a copy hook kept the folder: Explorer would not touch it either
    kStepFailed = 5,   // a scripted step (--steps) failed
};

struct Options {
    std::wstring pick; // menu item, by number or text; empty: show the menu
    HWND owner = nullptr;
};

int DropCommand(const Options& options, const std::wstring& file, const std::wstring& folder);
int MenuCommand(const Options& options, const std::wstring& folder);
int DeleteCommand(const Options& options, const std::wstring& folder);
int CopyCommand(const Options& options, const std::wstring& folder, const std::wstring& destination);
int OverlayCommand(const std::wstring& path);

} // namespace kestrune::trying
