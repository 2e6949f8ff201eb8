// Answers, for scripts, the message boxes the handlers show on this thread: each is printed and
// closed with the chosen button (or OK where a box has no yes/no).
#pragma once
#include <windows.h>

namespace kestrune::trying {

class MessageAnswers {
public:
    // `answer` IDYES or IDNO; 0 leaves every box to the user.
    explicit MessageAnswers(int answer);
    ~MessageAnswers();
    MessageAnswers(const MessageAnswers&) = delete;
    MessageAnswers& operator=(const MessageAnswers&) = delete;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    void Answer(HWND box) const;

    static inline MessageAnswers* current_ = nullptr;
    HHOOK hook_ = nullptr;
    int answer_;
};

} // namespace kestrune::trying
