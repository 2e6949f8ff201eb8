// Steps that drive and photograph the windows this process opens while a command runs, for
// scripts and the demo: "window TEXT; page 202; shot C:\a.bmp; click 202; wait-list 204; close".
//   window [TEXT]  wait for a visible window of this process whose title holds TEXT
//   page ID        on a property sheet, select the page that holds control ID
//   click ID       press button ID of the page (or window)
//   wait-list ID   wait until list box ID has items, and print them
//   shot FILE      save the window as a 24-bit BMP
//   sleep MS, close (cancels the window)
// The steps run on a thread of their own; a failed step is reported and the later ones still
// run, so that the window gets photographed and closed whatever happened.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace kestrune::trying {

class ScriptedSteps {
public:
    ScriptedSteps() = default;
    ~ScriptedSteps();
    ScriptedSteps(const ScriptedSteps&) = delete;
    ScriptedSteps& operator=(const ScriptedSteps&) = delete;

    // Parses the script; false (with a message) when a step is not understood.
    bool Parse(const std::wstring& script);
    bool Start();
    // Waits for the last step; 0 when all succeeded, else the exit code for a failed step.
    int Finish();

private:
    struct Step {
        std::wstring verb;
        std::wstring argument;
    };
    static unsigned __stdcall Run(void* self);
    bool Perform(const Step& step);
    bool FindWindow(const std::wstring& text);
    bool SelectPage(int id);
    HWND Control(int id) const;

    std::vector<Step> steps_;
    HANDLE thread_ = nullptr;
    HWND window_ = nullptr;
    HWND page_ = nullptr;
    bool failed_ = false;
};

// The window's pixels as they are on the screen, as a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const std::wstring& path);

} // namespace kestrune::trying
