// Steps that drive and photograph the windows this process opens while a command runs, for
// scripts and the demo: "window TEXT; page 202; shot C:\a.bmp; click 202; wait-list 204; close".
//   window [TEXT]  wait for a visible window of this process whose title holds TEXT
//   menu           wait for a popup menu of this process (the drop's and the folder's menus)
//   page ID        on a property sheet, select the page that holds control ID; fails when a
//                  control of the page lies outside the sheet
//   click ID       press button ID of the page (or window)
//   wait-list ID   wait until list box ID has items, and print them
//   select-item ID N  select item N (1 = the first) of list box ID; fails unless it is in view
//   select PATH    in a folder browser, select the folder PATH and wait until it shows selected
//   shot FILE      save the window as a 24-bit BMP; fails for a blank picture
//   sleep MS, close (cancels the window)
// The steps run on a thread of their own; a failed step is reported and the later ones still
// run, so that the window gets photographed; after a failed step every window is closed.
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

    // Parses the script; the wrong step, or empty when all are understood.
    std::wstring Parse(const std::wstring& script);
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
    bool FindMenu();
    bool SelectPage(int id);
    bool PageInsideSheet() const;
    bool SelectItem(const std::wstring& argument);
    bool SelectFolder(const std::wstring& path);
    bool Shoot(const std::wstring& path);
    HWND Control(int id) const;

    std::vector<Step> steps_;
    HANDLE thread_ = nullptr;
    HWND window_ = nullptr;
    HWND page_ = nullptr;
    bool failed_ = false;
};

// The window's pixels as they are on the screen, as a 24-bit BMP file; `colours` receives how many
// distinct colours it holds (up to a few), so that a blank picture can be told.
bool SaveWindowPicture(HWND window, const std::wstring& path, size_t& colours);

} // namespace kestrune::trying
