// Watches the message boxes the handlers show on this thread: each is printed, and for scripts
// closed with the chosen button (or OK where a box has no yes/no). A box with the error icon is
// kept, so that a run that showed one never ends as a success.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace kestrune::trying {

class MessageAnswers {
public:
    // `answer` IDYES or IDNO; 0 leaves every box to the user.
    explicit MessageAnswers(int answer);
    // The text of the last box shown with the error icon; empty when none was.
    const std::wstring& ErrorShown() const { return error_; }
    ~MessageAnswers();
    MessageAnswers(const MessageAnswers&) = delete;
    MessageAnswers& operator=(const MessageAnswers&) = delete;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    void Seen(HWND box);

    static inline MessageAnswers* current_ = nullptr;
    HHOOK hook_ = nullptr;
    int answer_;
    std::vector<HWND> seen_;
    std::wstring error_;
};

} // namespace kestrune::trying
