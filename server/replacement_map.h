// Names and texts that replace "%name%" in registration scripts; copies live on the COM task allocator.
#pragma once
#include <windows.h>

#include <cstddef>

namespace kestrune {

class ReplacementMap {
public:
    ReplacementMap() = default;
    ~ReplacementMap() { Clear(); }
    ReplacementMap(const ReplacementMap&) = delete;
    ReplacementMap& operator=(const ReplacementMap&) = delete;

    HRESULT Add(const wchar_t* name, const wchar_t* text);
    // The first pair added under `name` (compared without regard to case), or null.
    const wchar_t* Find(const wchar_t* name) const;
    void Clear();

private:
    struct Pair {
        wchar_t* name;
        wchar_t* text;
    };
    Pair* pairs_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
};

} // namespace kestrune
