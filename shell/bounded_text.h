// Builds a text piece by piece into a fixed buffer and remembers whether it did not fit.
#pragma once
#include <cstddef>
#include <cwchar>

namespace kestrune {

class BoundedText {
public:
    BoundedText(wchar_t* buffer, size_t chars) : buffer_(buffer), chars_(chars) {
        if (chars_) buffer_[0] = L'\0';
    }
    BoundedText& Append(const wchar_t* text) {
        size_t length = wcslen(text);
        if (overflow_ || length_ + length + 1 > chars_) {
            overflow_ = true;
            return *this;
        }
        wmemcpy(buffer_ + length_, text, length + 1);
        length_ += length;
        return *this;
    }
    // As much of `text` as fits; the rest is dropped and the text counts as not fitting.
    BoundedText& AppendCut(const wchar_t* text) {
        if (overflow_ || chars_ == 0) return *this;
        size_t room = chars_ - length_ - 1;
        size_t length = wcsnlen(text, room + 1);
        if (length > room) {
            length = room;
            overflow_ = true;
        }
        wmemcpy(buffer_ + length_, text, length);
        length_ += length;
        buffer_[length_] = L'\0';
        return *this;
    }
    // The folder and one backslash after it; a folder already ending in one (a drive root) gets no second.
    BoundedText& AppendFolder(const wchar_t* folder) {
        size_t length = wcslen(folder);
        Append(folder);
        return length == 0 || folder[length - 1] != L'\\' ? Append(L"\\") : *this;
    }
    BoundedText& AppendNumber(long long number) {
        wchar_t digits[24];
        swprintf(digits, 24, L"%lld", number);
        return Append(digits);
    }
    bool Fits() const { return !overflow_; }

private:
    wchar_t* buffer_;
    size_t chars_;
    size_t length_ = 0;
    bool overflow_ = false;
};

} // namespace kestrune
