#include "ntfs/links/name_list.h"

#include "ntfs/kernel.h"

#include <cstring>
#include <cwchar>

namespace kestrune {
namespace {

constexpr size_t kFirstChars = 1024;
constexpr size_t kFirstOffsets = 64;
// Offsets are 32-bit; no folder or result comes near this many characters.
constexpr size_t kMaxItems = 0x7FFFFFFF / sizeof(wchar_t);

template <typename T> T* Allocate(size_t count) {
    return static_cast<T*>(Kernel().GlobalAlloc(GPTR, count * sizeof(T)));
}

void Free(void* block) {
    if (block) Kernel().GlobalFree(block);
}

// Makes room for `needed` items, at least doubling; false, and the block untouched, when refused.
template <typename T> bool Reserve(T*& block, size_t used, size_t& capacity, size_t needed, size_t first) {
    if (needed <= capacity) return true;
    if (needed > kMaxItems) return false;
    size_t grown = capacity ? capacity * 2 : first;
    if (grown < needed) grown = needed;
    T* larger = Allocate<T>(grown);
    if (!larger) return false;
    if (used) memcpy(larger, block, used * sizeof(T));
    Free(block);
    block = larger;
    capacity = grown;
    return true;
}

} // namespace

NameList::~NameList() { Clear(); }

void NameList::Clear() {
    Free(chars_);
    Free(offsets_);
    chars_ = nullptr;
    offsets_ = nullptr;
    charsUsed_ = charsCapacity_ = count_ = offsetsCapacity_ = 0;
}

bool NameList::Add(const wchar_t* name, size_t length) {
    if (!Reserve(chars_, charsUsed_, charsCapacity_, charsUsed_ + length + 1, kFirstChars) ||
        !Reserve(offsets_, count_, offsetsCapacity_, count_ + 1, kFirstOffsets))
        return false;
    wmemcpy(chars_ + charsUsed_, name, length);
    chars_[charsUsed_ + length] = L'\0';
    offsets_[count_++] = static_cast<uint32_t>(charsUsed_);
    charsUsed_ += length + 1;
    return true;
}

// Bottom-up merge sort of the offsets: stable, and bounded in time whatever the input order.
bool NameList::Sort(NameOrder order) {
    if (count_ < 2) return true;
    uint32_t* scratch = Allocate<uint32_t>(count_);
    if (!scratch) return false;
    uint32_t* from = offsets_;
    uint32_t* to = scratch;
    for (size_t width = 1; width < count_; width *= 2) {
        for (size_t low = 0; low < count_; low += 2 * width) {
            size_t middle = low + width < count_ ? low + width : count_;
            size_t high = middle + width < count_ ? middle + width : count_;
            size_t left = low, right = middle, out = low;
            while (left < middle && right < high)
                to[out++] = order(chars_ + from[right], chars_ + from[left]) < 0 ? from[right++] : from[left++];
            while (left < middle) to[out++] = from[left++];
            while (right < high) to[out++] = from[right++];
        }
        uint32_t* swap = from;
        from = to;
        to = swap;
    }
    if (from != offsets_) memcpy(offsets_, from, count_ * sizeof(uint32_t));
    Free(scratch);
    return true;
}

} // namespace kestrune
