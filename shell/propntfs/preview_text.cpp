#include "shell/propntfs/preview_text.h"

namespace kestrune {
namespace {

void Utf16(const BYTE* bytes, DWORD count, bool bigEndian, bool cut, wchar_t* text) {
    DWORD units = count / 2; // an odd last byte is half a unit
    for (DWORD i = 0; i < units; ++i) {
        wchar_t unit = static_cast<wchar_t>(bigEndian ? (bytes[2 * i] << 8) | bytes[2 * i + 1]
                                                      : bytes[2 * i] | (bytes[2 * i + 1] << 8));
        text[i] = unit == 0 ? L' ' : unit;
    }
    if (cut && units > 0 && IS_HIGH_SURROGATE(text[units - 1])) --units;
    text[units] = L'\0';
}

// The bytes without a UTF-8 sequence the cut left unfinished.
DWORD WithoutCutSequence(const BYTE* bytes, DWORD count) {
    for (DWORD back = 1; back <= 3 && back <= count; ++back) {
        BYTE b = bytes[count - back];
        if ((b & 0xC0) == 0x80) continue; // a continuation byte: its lead is further back
        DWORD length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return length > back ? count - back : count;
    }
    return count;
}

// The bytes without a double-byte character's lead byte that the cut parted from its trail.
DWORD WithoutCutLeadByte(const BYTE* bytes, DWORD count) {
    DWORD i = 0;
    while (i < count) {
        if (IsDBCSLeadByte(bytes[i]) && i + 1 == count) return i;
        i += IsDBCSLeadByte(bytes[i]) ? 2 : 1;
    }
    return count;
}

} // namespace

void DecodePreview(const BYTE* bytes, DWORD count, bool cut, wchar_t* text) {
    text[0] = L'\0';
    if (count >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)))
        return Utf16(bytes + 2, count - 2, bytes[0] == 0xFE, cut, text);
    BYTE copy[1024];
    if (count > sizeof copy) count = sizeof copy;
    for (DWORD i = 0; i < count; ++i) copy[i] = bytes[i] == 0 ? ' ' : bytes[i];
    bool marked = count >= 3 && copy[0] == 0xEF && copy[1] == 0xBB && copy[2] == 0xBF;
    const BYTE* utf8 = marked ? copy + 3 : copy;
    DWORD utf8Count = marked ? count - 3 : count;
    if (cut) utf8Count = WithoutCutSequence(utf8, utf8Count);
    const char* chars = reinterpret_cast<const char*>(utf8);
    int n = utf8Count == 0 ? 0 : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, chars, utf8Count, text, count);
    if (n == 0 && utf8Count != 0 && marked) n = MultiByteToWideChar(CP_UTF8, 0, chars, utf8Count, text, count);
    if (n == 0 && utf8Count != 0) {
        DWORD ansiCount = cut ? WithoutCutLeadByte(copy, count) : count;
        n = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(copy), ansiCount, text, count);
    }
    text[n > 0 ? n : 0] = L'\0';
}

} // namespace kestrune
