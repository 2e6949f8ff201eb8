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
constexpr size_t kKeyPathChars = (kMaxNesting + 2) * kSubkeyNameChars;

HRESULT FromStatus(LONG status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

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
    LONG status = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE | DELETE, &key);
    if (status != ERROR_SUCCESS) return status;
    wchar_t subkey[kSubkeyNameChars];
    for (;;) {
        DWORD length = kSubkeyNameChars;
        status = RegEnumKeyExW(key, 0, subkey, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS) status = DeleteRecursively(key, subkey, depth + 1);
        if (status != ERROR_SUCCESS) {
            RegCloseKey(key);
            return status;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyW(parent, name);
}

// What one register run wrote, newest first: keys it created and values it wrote into keys that
// existed before. A failing run takes exactly these away again.
struct JournalEntry {
    JournalEntry* next;
    HKEY root;
    bool isValue;
    wchar_t text[1]; // the key's path below the root; for a value, then the value's name
};

class Journal {
public:
    Journal() = default;
    ~Journal() { Forget(); }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    JournalEntry* Prepare(HKEY root, const wchar_t* path, const wchar_t* valueName) {
        size_t pathChars = wcslen(path) + 1, nameChars = valueName ? wcslen(valueName) + 1 : 0;
        auto* entry = static_cast<JournalEntry*>(
            CoTaskMemAlloc(sizeof(JournalEntry) + (pathChars + nameChars) * sizeof(wchar_t)));
        if (!entry) return nullptr;
        entry->root = root;
        entry->isValue = valueName != nullptr;
        wmemcpy(entry->text, path, pathChars);
        if (valueName) wmemcpy(entry->text + pathChars, valueName, nameChars);
        return entry;
    }
    void Keep(JournalEntry* entry) {
        entry->next = newest_;
        newest_ = entry;
    }
    static void Drop(JournalEntry* entry) { CoTaskMemFree(entry); }

    // Newest first: a key's subkeys and values go before the key.
    void Undo() {
        for (JournalEntry* entry = newest_; entry; entry = entry->next) {
            if (!entry->isValue) {
                RegDeleteKeyW(entry->root, entry->text);
                continue;
            }
            HKEY key = nullptr;
            if (RegOpenKeyExW(entry->root, entry->text, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) continue;
            RegDeleteValueW(key, entry->text + wcslen(entry->text) + 1);
            RegCloseKey(key);
        }
        Forget();
    }
    void Forget() {
        while (newest_) {
            JournalEntry* entry = newest_;
            newest_ = entry->next;
            CoTaskMemFree(entry);
        }
    }

private:
    JournalEntry* newest_ = nullptr;
};

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
        if (!close) return kMalformedScript;
        size_t length = static_cast<size_t>(close - (p + 1));
        if (length > kMaxVariableChars) return E_FAIL;
        wchar_t name[kMaxVariableChars + 1];
        wmemcpy(name, p + 1, length);
        name[length] = L'\0';
        const wchar_t* value = map.Find(name);
        if (!value) return kMalformedScript;
        if (!out.Append(value, wcslen(value))) return E_OUTOFMEMORY;
        p = close + 1;
    }
    return S_OK;
}

class ScriptParser {
public:
    explicit ScriptParser(const wchar_t* text) : start_(text), position_(text) {}
    ScriptParser(const ScriptParser&) = delete;
    ScriptParser& operator=(const ScriptParser&) = delete;

    HRESULT Run(BOOL doRegister) {
        // An empty key name would open its parent and have it deleted: such a script is refused
        // before any key is touched.
        if (HasEmptyKeyName()) return kMalformedScript;
        return RunBlocks(doRegister);
    }

private:
    // A walk that only reads (every key counts as missing) finds empty key names; other faults
    // are left to the real run.
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
        if (!root) return kMalformedScript;
        result = NextToken(token_, kTokenChars);
        if (FAILED(result)) return result;
        return token_[0] == L'{' ? S_OK : kMalformedScript;
    }

    // A failure anywhere undoes what the whole run wrote, earlier blocks included.
    HRESULT RunBlocks(BOOL doRegister) {
        for (;;) {
            SkipWhiteSpace();
            if (*position_ == L'\0') return S_OK; // an empty script does nothing
            HKEY root = nullptr;
            HRESULT result = ReadRootBlockStart(root);
            if (SUCCEEDED(result)) {
                root_ = root;
                path_[0] = L'\0';
                result = doRegister ? RegisterBody(root, 0, 0, false) : RemoveBody(root, false, 0);
            }
            if (FAILED(result)) {
                journal_.Undo();
                return result;
            }
        }
    }

    void SkipWhiteSpace() {
        while (IsWhiteSpace(*position_)) ++position_;
    }

    HRESULT NextToken(wchar_t* out, size_t chars) {
        SkipWhiteSpace();
        if (*position_ == L'\0') return kMalformedScript;
        size_t length = 0;
        if (*position_ == L'\'') {
            ++position_;
            for (;;) {
                if (*position_ == L'\0') return kMalformedScript;
                if (*position_ == L'\'') {
                    if (position_[1] != L'\'') {
                        ++position_;
                        break;
                    }
                    ++position_; // a doubled quote stands for one
                }
                if (length + 1 >= chars || length >= kTokenChars - 2) return kMalformedScript;
                out[length++] = *position_++;
            }
        } else {
            while (*position_ && !IsWhiteSpace(*position_)) {
                if (length + 1 >= chars) return kMalformedScript;
                out[length++] = *position_++;
            }
        }
        out[length] = L'\0';
        return S_OK;
    }

    // Writes one value and journals it when its key (path_) existed before this run: a key the run
    // created takes its values along when it is undone.
    HRESULT WriteValue(HKEY key, bool keyCreated, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
        JournalEntry* entry = nullptr;
        if (!keyCreated && !(entry = journal_.Prepare(root_, path_, name ? name : L""))) return E_OUTOFMEMORY;
        LONG status = RegSetValueExW(key, name, 0, type, data, size);
        if (entry) {
            if (status == ERROR_SUCCESS)
                journal_.Keep(entry);
            else
                Journal::Drop(entry);
        }
        return FromStatus(status);
    }

    // "=", the type letter and the value are read and written to `key` (value `name`, or the
    // unnamed value); the token after them is left in hand.
    HRESULT SetValue(HKEY key, bool keyCreated, const wchar_t* name) {
        wchar_t type[kTokenChars];
        HRESULT result = NextToken(type, kTokenChars);
        if (FAILED(result)) return result;
        if (!Is(type, L"S") && !Is(type, L"D") && !Is(type, L"B")) return kMalformedScript;
        result = NextToken(token_, kTokenChars);
        if (FAILED(result)) return result;
        if (Is(type, L"S")) {
            result = WriteValue(key, keyCreated, name, REG_SZ, reinterpret_cast<const BYTE*>(token_),
                                static_cast<DWORD>((wcslen(token_) + 1) * sizeof(wchar_t)));
        } else if (Is(type, L"D")) {
            ULONG number = 0;
            // A text that is no number is refused rather than written as some number.
            result = VarUI4FromStr(token_, 0, 0, &number);
            if (FAILED(result)) return result;
            DWORD value = number;
            result = WriteValue(key, keyCreated, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
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
            result = WriteValue(key, keyCreated, name, REG_BINARY, bytes, static_cast<DWORD>(length / 2));
        }
        if (FAILED(result)) return result;
        return NextToken(token_, kTokenChars);
    }

    HRESULT SkipAssignment() {
        wchar_t type[kTokenChars];
        HRESULT result = NextToken(type, kTokenChars);
        if (SUCCEEDED(result)) result = NextToken(token_, kTokenChars);
        if (SUCCEEDED(result)) result = NextToken(token_, kTokenChars);
        return result;
    }

    // Opens key `name` of `parent` for writing, creating it when missing; a key this run
    // creates is journaled under its path (path_ up to `pathLength`, then the name).
    HRESULT OpenForWriting(HKEY parent, size_t pathLength, const wchar_t* name, HKEY* opened, bool* created) {
        size_t nameLength = wcslen(name);
        if (pathLength + 1 + nameLength >= kKeyPathChars) return HRESULT_FROM_WIN32(ERROR_BUFFER_OVERFLOW);
        if (pathLength) path_[pathLength++] = L'\\';
        wmemcpy(path_ + pathLength, name, nameLength + 1);
        JournalEntry* entry = journal_.Prepare(root_, path_, nullptr);
        if (!entry) return E_OUTOFMEMORY;
        DWORD disposition = 0;
        LONG status = RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                      nullptr, opened, &disposition);
        *created = status == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
        if (*created)
            journal_.Keep(entry);
        else
            Journal::Drop(entry);
        return FromStatus(status);
    }

    // `parentCreated`: this run created `parent`, whose path is path_ up to `pathLength`.
    HRESULT RegisterBody(HKEY parent, int depth, size_t pathLength, bool parentCreated) {
        if (depth > kMaxNesting) return kMalformedScript;
        ScopedKey current;
        bool currentCreated = false;
        HRESULT result = NextToken(token_, kTokenChars);
        if (FAILED(result)) return result;
        while (wcscmp(token_, L"}") != 0) {
            bool entryDone = false;
            if (Is(token_, L"Delete") || Is(token_, L"ForceRemove")) {
                bool isDelete = Is(token_, L"Delete");
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
                if (FAILED(result = CheckKeyName(token_))) return result;
                if (!IsProtected(token_)) {
                    LONG status = DeleteRecursively(parent, token_);
                    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
                }
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
                if (wcscmp(token_, L"=") != 0) return kMalformedScript;
                wchar_t kept = path_[pathLength]; // the value belongs to the parent: its path, for now
                path_[pathLength] = L'\0';
                result = SetValue(parent, parentCreated, name);
                path_[pathLength] = kept;
                if (FAILED(result)) return result;
                entryDone = true;
            }
            if (!entryDone) {
                if (FAILED(result = CheckKeyName(token_))) return result;
                if (!current.Close()) return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
                if (FAILED(result = OpenForWriting(parent, pathLength, token_, current.Receive(), &currentCreated)))
                    return result;
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
                if (wcscmp(token_, L"=") == 0 && FAILED(result = SetValue(current.Get(), currentCreated, nullptr)))
                    return result;
            }
            if (wcscmp(token_, L"{") == 0) {
                // A block after "Delete" or "Val" belongs to the key last opened in this body.
                if (!current.Get()) return kMalformedScript;
                size_t childPath = wcslen(path_);
                if (FAILED(result = RegisterBody(current.Get(), depth + 1, childPath, currentCreated))) return result;
                path_[childPath] = L'\0';
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            }
        }
        return current.Close() ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    }

    // `readOver`: the keys of this body are missing; it is only read, nothing is touched.
    HRESULT RemoveBody(HKEY parent, bool readOver, int depth) {
        if (depth > kMaxNesting) return kMalformedScript;
        HRESULT result = NextToken(token_, kTokenChars);
        if (FAILED(result)) return result;
        while (wcscmp(token_, L"}") != 0) {
            bool mayDelete = true; // "NoRemove" keeps the key it names, and only that one
            if (Is(token_, L"Delete") || Is(token_, L"ForceRemove")) {
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            } else if (Is(token_, L"NoRemove")) {
                mayDelete = false;
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            } else if (Is(token_, L"Val")) {
                wchar_t name[kValueNameChars];
                if (FAILED(result = NextToken(name, kValueNameChars))) return result;
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
                if (wcscmp(token_, L"=") != 0) return kMalformedScript;
                if (!readOver) {
                    LONG status = RegDeleteValueW(parent, name);
                    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
                }
                if (FAILED(result = SkipAssignment())) return result;
                continue;
            }
            if (FAILED(result = CheckKeyName(token_))) return result;
            wchar_t name[kRememberedKeyChars];
            wcsncpy(name, token_, kRememberedKeyChars - 1);
            name[kRememberedKeyChars - 1] = L'\0';
            ScopedKey key;
            bool missing = readOver;
            if (!readOver) {
                LONG status = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_SET_VALUE, key.Receive());
                if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
                missing = status != ERROR_SUCCESS;
            }
            if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            if (wcscmp(token_, L"=") == 0 && FAILED(result = SkipAssignment())) return result;
            if (token_[0] == L'{') {
                if (FAILED(result = RemoveBody(key.Get(), missing, depth + 1))) return result;
                if (FAILED(result = NextToken(token_, kTokenChars))) return result;
            } else if (missing) {
                readOver = true; // a missing key without a block: the rest of the body is only read
            }
            // Only a key without subkeys goes; one that still holds keys the script does not name
            // stays. Nothing is deleted recursively here, so protected names need no test.
            DWORD subkeys = 0;
            if (!missing && mayDelete) {
                LONG status = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                               nullptr, nullptr, nullptr, nullptr, nullptr);
                if (status != ERROR_SUCCESS) return FromStatus(status);
            }
            if (!key.Close()) return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
            if (!missing && mayDelete && subkeys == 0) {
                LONG status = RegDeleteKeyW(parent, name);
                if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromStatus(status);
            }
        }
        return S_OK;
    }

    HRESULT CheckKeyName(const wchar_t* name) {
        if (name[0] == L'\0') {
            emptyKeyName_ = true;
            return kMalformedScript;
        }
        return wcschr(name, L'\\') ? kMalformedScript : S_OK;
    }

    const wchar_t* start_;
    const wchar_t* position_;
    bool emptyKeyName_ = false;
    HKEY root_ = nullptr;
    Journal journal_;
    wchar_t path_[kKeyPathChars] = {}; // the path of the key in hand below root_
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
