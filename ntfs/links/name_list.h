// Names packed one after another in one growing block of the kernel table's heap, with an index of
// their offsets: what a walk keeps of one folder, or the lines of a result before they are ordered.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace kestrune {

// Three-way comparison of two zero-terminated names.
using NameOrder = int (*)(const wchar_t*, const wchar_t*);

class NameList {
public:
    NameList() = default;
    ~NameList();
    NameList(const NameList&) = delete;
    NameList& operator=(const NameList&) = delete;

    // Adds `length` characters of `name`; false, and nothing added, when the heap refuses.
    bool Add(const wchar_t* name, size_t length);
    size_t Count() const { return count_; }
    // Lets every name go, and the blocks that held them.
    void Clear();
    // Zero-terminated.
    const wchar_t* operator[](size_t i) const { return chars_ + offsets_[i]; }
    // Sorts by `order`; names that compare equal keep their order. False when the heap refuses.
    bool Sort(NameOrder order);

private:
    wchar_t* chars_ = nullptr;
    size_t charsUsed_ = 0;
    size_t charsCapacity_ = 0;
    uint32_t* offsets_ = nullptr;
    size_t count_ = 0;
    size_t offsetsCapacity_ = 0;
};

} // namespace kestrune
