// The watch over one run of the try host: it never waits for ever. When the run outlives its time
// limit, or a window opens on a display nobody sees while no script drives it, the process's
// windows are closed so that the command's modal loops end and the run can return.
#pragma once
#include <windows.h>

#include <string>

namespace kestrune::trying {

// Cancels the window as its Cancel button or Escape would (a dialog, a sheet, a message box, a
// menu); a yes/no question is answered No.
bool CancelWindow(HWND window);
// The first visible top-level window of this process, or nullptr.
HWND FirstVisibleWindow();
// Cancels every visible top-level window of this process (dialogs, sheets, message boxes, menus).
void CloseProcessWindows();

// True once the run's windows are being closed: steps that wait give up.
bool RunEnding();

class RunLimit {
public:
    // `limitMs` for the whole run; `hiddenDisplay` names the display when windows would open
    // where nobody sees them and no script drives them (empty otherwise).
    RunLimit(DWORD limitMs, const std::wstring& hiddenDisplay);
    ~RunLimit();
    RunLimit(const RunLimit&) = delete;
    RunLimit& operator=(const RunLimit&) = delete;

    bool TimedOut() const { return timedOut_; }
    bool WindowUnseen() const { return windowUnseen_; }

private:
    static unsigned __stdcall Watch(void* self);

    DWORD limitMs_;
    std::wstring hiddenDisplay_;
    HANDLE done_ = nullptr;
    HANDLE thread_ = nullptr;
    volatile bool timedOut_ = false;
    volatile bool windowUnseen_ = false;
};

} // namespace kestrune::trying
