// The try host's commands. Each returns the process exit code.
#pragma once
#include <windows.h>

#include <string>

namespace kestrune::trying {

enum ExitCode {
    kDone = 0,
    kUsage = 1,
    kNotInstalled = 2,
    kFailed = 3,        // a handler failed, or the operation failed or did not take effect
    kHookSaidNo = 4,    // a copy hook kept the folder: Explorer would not touch it either
    kStepFailed = 5,    // a scripted step (--steps) failed
    kNothingOffered = 6, // the handlers offer nothing for these paths (the reason is printed)
    kTimedOut = 7,      // the run outlived its time limit; its windows were closed
    kNoDisplay = 8,     // a window would open where nobody sees it and nothing drives it
};

struct Options {
    std::wstring pick; // menu item, by number or text; empty: show the menu
    HWND owner = nullptr;
};

// Why the handlers offer nothing for a file dropped on a folder, or for a folder's menu, in words
// (a network or non-NTFS folder, a folder not empty, a path too long); empty when no such reason
// is found.
std::wstring WhyNoDropOffer(const std::wstring& file, const std::wstring& folder);
std::wstring WhyNoMenuOffer(const std::wstring& folder);

int DropCommand(const Options& options, const std::wstring& file, const std::wstring& folder);
int MenuCommand(const Options& options, const std::wstring& folder);
int DeleteCommand(const Options& options, const std::wstring& folder);
int CopyCommand(const Options& options, const std::wstring& folder, const std::wstring& destination);
int OverlayCommand(const std::wstring& path);

} // namespace kestrune::trying
