#include "server/registry_script.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "server/last_error.h"

namespace kestrune {
namespace {

constexpr size_t kTokenChars = 4096;      // a quoted token holds at most 4094 characters
constexpr size_t kValueNameChars = 260;
constexpr size_t kRememberedKeyChars = 260;
constexpr size_t kSubkeyNameChars = 256;
constexpr size_t kMaxVariableChars = 31;
constexpr int kMaxNesting = 64;           // deeper scripts are refused, not followed off the stack

struct RootKey {
    const wchar_t* name;
    HKEY key;
};

const RootKey rootKeys[] = {
    {L"HKCR", HKEY_CLASSES_ROOT},
    {L"HKCU", HKEY_CURRENT_USER},
    {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKU", HKEY_USERS},
    {L"HKPD", HKEY_PERFORMANCE_DATA},
    {L"HKDD", HKEY_DYN_DATA},
    {L"HKCC", HKEY_CURRENT_CONFIG},
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKEY_USERS", HKEY_USERS},
    {L"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {L"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

bool Is(const wchar_t* token, const wchar_t* word) { return lstrcmpiW(token, word) == 0; }
bool IsWhiteSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'; }
bool IsProtected(const wchar_t* name) { return Is(name, L"CLSID") || Is(name, L"TYPELIB"); }

// Closes a key on every path out of a body.
class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey() { Close(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    HKEY Get() const { return key_; }
    HKEY* Receive() {
        Close();
        return &key_;
    }
    bool Close() {
        bool closed = !key_ || RegCloseKey(key_) == ERROR_SUCCESS;
        key_ = nullptr;
        return closed;
    }

private:
    HKEY key_ = nullptr;
};

LONG DeleteRecursively(HKEY parent, const wchar_t* name, int depth = 0) {
    if (depth > 512) return ERROR_CANTWRITE;
    if (name[0] == L'\0') return ERROR_INVALID_PARAMETER; // an empty name opens the parent itself
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &key);
    if (status != ERROR_SUCCESS) return status;
    wchar_t subkey[kSubkeyNameChars];
    for (;;) {
        DWORD length = kSubkeyNameChars;
        if (RegEnumKeyExW(key, 0, subkey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        status = DeleteRecursively(key, subkey, depth + 1);
        if (status != ERROR_SUCCESS) {
            RegCloseKey(key);
            return status;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyW(parent, name);
}

// A growing text on the COM task allocator.
class ScriptText {
public:
    explicit ScriptText(size_t capacity) : capacity_(capacity ? capacity : 16) {
        text_ = static_cast<wchar_t*>(CoTaskMemAlloc(capacity_ * sizeof(wchar_t)));
    }
    ~ScriptText() { CoTaskMemFree(text_); }
    ScriptText(const ScriptText&) = delete;
    ScriptText& operator=(const ScriptText&) = delete;
    bool Valid() const { return text_ != nullptr; }
    const wchar_t* Get() const { return text_; }
    bool Append(const wchar_t* text, size_t length) {
        while (length_ + length + 1 > capacity_) {
            auto* grown = static_cast<wchar_t*>(CoTaskMemRealloc(text_, capacity_ * 2 * sizeof(wchar_t)));
            if (!grown) return false;
            text_ = grown;
            capacity_ *= 2;
        }
        wmemcpy(text_ + length_, text, length);
        length_ += length;
        text_[length_] = L'\0';
        return true;
    }

private:
    wchar_t* text_ = nullptr;
    size_t capacity_;
    size_t length_ = 0;
};

HRESULT Preprocess(const wchar_t* text, const ReplacementMap& map, ScriptText& out) {
    if (!out.Valid()) return E_OUTOFMEMORY;
    if (!out.Append(L"", 0)) return E_OUTOFMEMORY;
    for (const wchar_t* p = text; *p;) {
        if (*p != L'%') {
            const wchar_t* run = p;
            while (*p && *p != L'%') ++p;
            if (!out.Append(run, static_cast<size_t>(p - run))) return E_OUTOFMEMORY;
            continue;
        }
        if (p[1] == L'%') {
            if (!out.Append(L"%", 1)) return E_OUTOFMEMORY;
            p += 2;
            continue;
        }
        const wchar_t* close = wcschr(p + 1, L'%');
        if (!close) return DISP_E_EXCEPTION;
        size_t length = static_cast<size_t>(close - (p + 1));
        if (length > kMaxVariableChars) return E_FAIL;
        wchar_t name[kMaxVariableChars + 1];
        wmemcpy(name, p + 1, length);
        name[length] = L'\0';
        const wchar_t* value = map.Find(name);
        if (!value) return DISP_E_EXCEPTION;
        if (!out.Append(value, wcslen(value))) return E_OUTOFMEMORY;
        p = close + 1;
    }
    return S_OK;
}

class ScriptParser {
public:
    explicit ScriptParser(const wchar_t* text) : start_(text), position_(text) {}
    ~ScriptParser() { CoTaskMemFree(createdKeys_); }
    ScriptParser(const ScriptParser&) = delete;
    ScriptParser& operator=(const ScriptParser&) = delete;

    HRESULT Run(BOOL doRegister) {
        // An empty key name would open its parent and have it deleted: such a script is refused
        // before any key is touched.
        if (HasEmptyKeyName()) return DISP_E_EXCEPTION;
        if (doRegister) {
            // One bit per character of the text marks the key names whose keys this run created.
            size_t bytes = wcslen(start_) / 8 + 1;
            createdKeys_ = static_cast<BYTE*>(CoTaskMemAlloc(bytes));
            if (!createdKeys_) return E_OUTOFMEMORY;
            memset(createdKeys_, 0, bytes);
        }
        return RunBlocks(doRegister);
    }

private:
    // A walk that only reads (every key counts as missing) finds empty key names; other faults
    // are left to the real run, which reports them as it always has.
    bool HasEmptyKeyName() {
        for (;;) {
            SkipWhiteSpace();
            if (*position_ == L'\0') break;
            HKEY root = nullptr;
            if (FAILED(ReadRootBlockStart(root)) || FAILED(RemoveBody(root, true, 0))) break;
        }
        position_ = start_;
        return emptyKeyName_;
    }

    HRESULT ReadRootBlockStart(HKEY& root) {
        HRESULT result = NextToken(token_, kTokenChars);
        if (FAILED(result)) return result;
        root = nullptr;
        for (const RootKey& candidate : rootKeys)
            if (Is(token_, candidate.name)) root = candidate.key;
        if (!root) return DISP_E_EXCEPTION;
        result = NextToken(token_, kTokenChars);
        if (FAILED(result)) return result;
        return token_[0] == L'{' ? S_OK : DISP_E_EXCEPTION;
    }

    HRESULT RunBlocks(BOOL doRegister) {
        for (;;) {
            SkipWhiteSpace();
            if (*position_ == L'\0') return S_OK; // an empty script does nothing
            HKEY root = nullptr;
            HRESULT result = ReadRootBlockStart(root);
            if (FAILED(result)) return result;
            if (doRegister) {
                const wchar_t* start = position_;
                result = RegisterBody(root, 0);
                if (FAILED(result)) {
                    // Undo what the failing block wrote; earlier blocks stay, and so does every
                    // key that existed before and was only opened.
                    position_ = start;
                    rollingBack_ = true;
                    RemoveBody(root, false, 0);
                    rollingBack_ = false;
                    return result;
                }
            } else {
                result = RemoveBody(root, false, 0);
                if (FAILED(result)) return result;
            }
        }
    }

    void SkipWhiteSpace() {
        while (IsWhiteSpace(*position_)) ++position_;
    }

    HRESULT NextToken(wchar_t* out, size_t chars) {
        SkipWhiteSpace();
        tokenAt_ = static_cast<size_t>(position_ - start_);
        if (*position_ == L'\0') return DISP_E_EXCEPTION;
        size_t length = 0;
        if (*position_ == L'\'') {
            ++position_;
            for (;;) {
                if (*position_ == L'\0') return DISP_E_EXCEPTION;
                if (*position_ == L'\'') {
                    if (position_[1] != L'\'') {
                        ++position_;
                        break;
                    }
                    ++position_; // a doubled quote stands for one
                }
                if (length + 1 >= chars || length >= kTokenChars - 2) return DISP_E_EXCEPTION;
                out[length++] = *position_++;
            }
        } else {
            while (*position_ && !IsWhiteSpace(*position_)) {
                if (length + 1 >= chars) return DISP_E_EXCEPTION;
                out[length++] = *position_++;
            }
        }
        out[length] = L'\0';
        return S_OK;
    }

    // "=", the type letter and the value are read and written to `key` (value `name`, or the
    // unnamed value); the token after them is left in hand.
    HRESULT SetValue(HKEY key, const wchar_t* name) {
        wchar_t type[kTokenChars];
        HRESULT result = NextToken(type, kTokenChars);
        if (FAILED(result)) return result;
        if (!Is(type, L"S") && !Is(type, L"D") && !Is(type, L"B")) return DISP_E_EXCEPTION;
        result = NextToken(token_, kTokenChars);
        if (FAILED(result)) return result;
        if (Is(type, L"S")) {
            RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(token_),
                           static_cast<DWORD>((wcslen(token_) + 1) * sizeof(wchar_t)));
        } else if (Is(type, L"D")) {
            ULONG number = 0;
            // A text that is no number is refused rather than written as some number.
            result = VarUI4FromStr(token_, 0, 0, &number);
            if (FAILED(result)) return result;
            DWORD value = number;
            RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        } else {
            size_t length = wcslen(token_);
            if (length % 2 != 0) return E_FAIL;
            BYTE bytes[kTokenChars / 2] = {};
            for (size_t i = 0; i < length; ++i) {
                wchar_t c = token_[i];
                int digit = (c >= L'0' && c <= L'9') ? c - L'0'
                            : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                            : (c >= L'a' && c <= L'f') ? c - L'a' + 10
                                                       : 0;
                bytes[i / 2] |= static_cast<BYTE>(i % 2 == 0 ? digit << 4 : digit);
            }
            RegSetValueExW(key, name, 0, REG_BINARY, bytes, static_cast<DWORD>(length / 2));
        }
        return NextToken(token_, kTokenChars);
    }

    HRESULT SkipAssignment() {
        wchar_t type[kTokenChars];
        HRESULT result = NextToken(type, kTokenChars);
        if (SUCCEEDED(result)) result = NextToken(token_, kTokenChars);
        if (SUCCEEDED(result)) result = NextToken(token_, kTokenChars);
        return result;
    }

    HRESULT RegisterBody(HKEY parent, int depth) {
        if (depth > kMaxNesting) return DISP_E_EXCEPTION;
        ScopedKey current;
        HRESULT result = NextToken(token_, kTokenChars);
        if (FAILED(result)) return result;
        while (wcscmp(token_, L"}") != 0) {
            bool entryDone = false;
            if (Is(token_, L"Delete") || Is(token_, L"ForceRemove")) {
                bool isDelete = Is(token_, L"Delete");
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
                if (FAILED(result = CheckKeyName(token_))) return result;
                if (!IsProtected(token_)) DeleteRecursively(parent, token_);
                if (isDelete) {
                    if (FAILED(result = NextToken(token_, kTokenChars))) return result;
                    if (wcscmp(token_, L"=") == 0 && FAILED(result = SkipAssignment())) return result;
                    entryDone = true;
                }
            }
            if (!entryDone && Is(token_, L"NoRemove")) {
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            }
            if (!entryDone && Is(token_, L"Val")) {
                wchar_t name[kValueNameChars];
                if (FAILED(result = NextToken(name, kValueNameChars))) return result;
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
                if (wcscmp(token_, L"=") != 0) return DISP_E_EXCEPTION;
                if (FAILED(result = SetValue(parent, name))) return result;
                entryDone = true;
            }
            if (!entryDone) {
                if (FAILED(result = CheckKeyName(token_))) return result;
                size_t keyAt = tokenAt_;
                HKEY opened = nullptr;
                DWORD disposition = 0;
                if (RegOpenKeyExW(parent, token_, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS &&
                    RegOpenKeyExW(parent, token_, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
                    if (RegCreateKeyExW(parent, token_, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                        &opened, &disposition) != ERROR_SUCCESS)
                        return DISP_E_EXCEPTION;
                    if (disposition == REG_CREATED_NEW_KEY) MarkCreated(keyAt);
                }
                if (!current.Close()) {
                    RegCloseKey(opened);
                    return DISP_E_EXCEPTION;
                }
                *current.Receive() = opened;
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
                if (wcscmp(token_, L"=") == 0 && FAILED(result = SetValue(current.Get(), nullptr))) return result;
            }
            if (wcscmp(token_, L"{") == 0) {
                // A block after "Delete" or "Val" belongs to the key last opened in this body.
                if (!current.Get()) return DISP_E_EXCEPTION;
                if (FAILED(result = RegisterBody(current.Get(), depth + 1))) return result;
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            }
        }
        return current.Close() ? S_OK : DISP_E_EXCEPTION;
    }

    // `readOver`: the keys of this body are missing; it is only read, nothing is touched.
    HRESULT RemoveBody(HKEY parent, bool readOver, int depth) {
        if (depth > kMaxNesting) return DISP_E_EXCEPTION;
        bool mayDelete = true; // cleared for the rest of the body by "NoRemove"
        HRESULT result = NextToken(token_, kTokenChars);
        if (FAILED(result)) return result;
        while (wcscmp(token_, L"}") != 0) {
            if (Is(token_, L"Delete") || Is(token_, L"ForceRemove")) {
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            } else if (Is(token_, L"NoRemove")) {
                mayDelete = false;
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            } else if (Is(token_, L"Val")) {
                wchar_t name[kValueNameChars];
                if (FAILED(result = NextToken(name, kValueNameChars))) return result;
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
                if (wcscmp(token_, L"=") != 0) return DISP_E_EXCEPTION;
                if (!readOver) RegDeleteValueW(parent, name);
                if (FAILED(result = SkipAssignment())) return result;
                continue;
            }
            if (FAILED(result = CheckKeyName(token_))) return result;
            size_t keyAt = tokenAt_;
            wchar_t name[kRememberedKeyChars];
            wcsncpy(name, token_, kRememberedKeyChars - 1);
            name[kRememberedKeyChars - 1] = L'\0';
            ScopedKey key;
            bool missing = readOver || RegOpenKeyExW(parent, name, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS;
            if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            if (wcscmp(token_, L"=") == 0 && FAILED(result = SkipAssignment())) return result;
            if (token_[0] == L'{') {
                if (FAILED(result = RemoveBody(key.Get(), missing, depth + 1))) return result;
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            } else if (missing) {
                readOver = true; // a missing key without a block: the rest of the body is only read
            }
            if (!key.Close()) return DISP_E_EXCEPTION;
            // Only a key without subkeys goes; one that still holds keys the script does not name
            // stays. Nothing is deleted recursively here, so protected names need no test.
            if (!missing && mayDelete && (!rollingBack_ || WasCreated(keyAt))) RegDeleteKeyW(parent, name);
        }
        return S_OK;
    }

    HRESULT CheckKeyName(const wchar_t* name) {
        if (name[0] == L'\0') {
            emptyKeyName_ = true;
            return DISP_E_EXCEPTION;
        }
        return wcschr(name, L'\\') ? DISP_E_EXCEPTION : S_OK;
    }

    void MarkCreated(size_t at) {
        if (createdKeys_) createdKeys_[at / 8] |= static_cast<BYTE>(1u << (at % 8));
    }
    bool WasCreated(size_t at) const { return createdKeys_ && (createdKeys_[at / 8] & (1u << (at % 8))); }

    const wchar_t* start_;
    const wchar_t* position_;
    size_t tokenAt_ = 0;     // offset of the token in hand
    BYTE* createdKeys_ = nullptr;
    bool rollingBack_ = false;
    bool emptyKeyName_ = false;
    wchar_t token_[kTokenChars];
};

} // namespace

HRESULT RunScript(const wchar_t* text, BOOL doRegister, ReplacementMap& map) {
    if (!text) return E_INVALIDARG;
    ScriptText preprocessed(wcslen(text) * 2 + 1);
    HRESULT result = Preprocess(text, map, preprocessed);
    if (FAILED(result)) return result;
    auto* parser = new (std::nothrow) ScriptParser(preprocessed.Get());
    if (!parser) return E_OUTOFMEMORY;
    result = parser->Run(doRegister);
    delete parser;
    return result;
}

HRESULT ApplyScriptResource(const wchar_t* scriptFile, UINT resourceId, BOOL doRegister, ReplacementMap& map) {
    HMODULE module = LoadLibraryExW(scriptFile, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return LastErrorResult();
    HRESULT result = S_OK;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"REGISTRY");
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!bytes) {
        result = LastErrorResult();
    } else {
        int size = static_cast<int>(SizeofResource(module, found));
        int chars = size ? MultiByteToWideChar(CP_ACP, 0, bytes, size, nullptr, 0) : 0;
        auto* text = static_cast<wchar_t*>(CoTaskMemAlloc((chars + 1) * sizeof(wchar_t)));
        if (!text) {
            result = E_OUTOFMEMORY;
        } else {
            if (chars) MultiByteToWideChar(CP_ACP, 0, bytes, size, text, chars);
            text[chars] = L'\0';
            result = RunScript(text, doRegister, map);
            CoTaskMemFree(text);
        }
    }
    FreeLibrary(module);
    return result;
}

} // namespace kestrune
