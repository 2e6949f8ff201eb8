#include "ntfs/reparse/elevated_command.h"

#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>

#include "ntfs/paths.h"
#include "ntfs/reparse/reparse.h"
#include "ntfs/reparse/reparse_kind.h"
#include "ntfs/volumes/volumes.h"

namespace kestrune {
namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";

struct OperationName {
    ElevatedOperation operation;
    const wchar_t* name;
    bool sets;
};
constexpr OperationName kOperations[] = {
    {ElevatedOperation::SetVolumeMount, L"set-volume-mount", true},
    {ElevatedOperation::DeleteVolumeMount, L"delete-volume-mount", false},
    {ElevatedOperation::SetJunction, L"set-junction", true},
    {ElevatedOperation::DeleteJunction, L"delete-junction", false},
    {ElevatedOperation::ReplaceMount, L"replace-mount", true},
};

// Appends ` "\\?\path"`: a trailing run of backslashes is doubled, so that the closing quote
// stays a quote to CommandLineToArgvW and the C runtime.
bool AppendQuoted(wchar_t* out, size_t chars, size_t& used, const wchar_t* path) {
    size_t length = wcsnlen(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || wcschr(path, L'"')) return false;
    const wchar_t* prefix = wcsncmp(path, kLongPrefix, 4) == 0 ? L"" : kLongPrefix;
    size_t trailing = 0;
    while (trailing < length && path[length - 1 - trailing] == L'\\') ++trailing;
    size_t prefixLength = wcslen(prefix);
    if (used + 3 + prefixLength + length + trailing >= chars) return false;
    out[used++] = L' ';
    out[used++] = L'"';
    wmemcpy(out + used, prefix, prefixLength);
    wmemcpy(out + used + prefixLength, path, length);
    used += prefixLength + length;
    wmemset(out + used, L'\\', trailing);
    used += trailing;
    out[used++] = L'"';
    out[used] = L'\0';
    return true;
}

// "\\?\X:\..." within MAX_PATH: the part after the prefix, else null.
const wchar_t* DrivePathOf(const wchar_t* path) {
    if (wcsncmp(path, kLongPrefix, 4) != 0 || BoundedPathLength(path) >= MAX_PATH) return nullptr;
    const wchar_t* rest = path + 4;
    return iswalpha(rest[0]) && rest[1] == L':' && rest[2] == L'\\' ? rest : nullptr;
}

// "\\?\Volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\" and nothing more.
bool IsVolumeName(const wchar_t* name) {
    const wchar_t form[] = L"\\\\?\\Volume{........-....-....-....-............}\\";
    size_t i = 0;
    for (; form[i]; ++i)
        if (form[i] == L'.' ? !iswxdigit(name[i]) : name[i] != form[i]) return false;
    return name[i] == L'\0';
}

// The library's status as a Win32 error: a refused request keeps the error it was refused with.
DWORD ErrorOf(int status) {
    DWORD error = GetLastError();
    if (status == 0) return ERROR_SUCCESS;
    if (status == -2) return ERROR_DIR_NOT_EMPTY;
    if (status == -4) return ERROR_NOT_ENOUGH_MEMORY;
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// The mount on `folder` replaced by a volume (`toVolume`) or a junction to `target`.
DWORD ReplaceMount(const wchar_t* folder, bool fromVolume, const wchar_t* target, bool toVolume) {
    if (!fromVolume && !toVolume) return ErrorOf(SetJunction(folder, target)); // one write in place
    std::unique_ptr<SavedReparse> saved(new (std::nothrow) SavedReparse);
    if (!saved) return ERROR_NOT_ENOUGH_MEMORY;
    int status = SaveReparsePoint(folder, *saved);
    if (status == 0) status = RemoveReparsePoint(folder);
    if (status != 0) return ErrorOf(status);
    status = toVolume ? MountVolumeByName(folder, target) : SetJunction(folder, target);
    DWORD error = ErrorOf(status);
    if (status != 0) RestoreReparsePoint(folder, *saved);
    return error;
}

} // namespace

bool FormatElevatedCommand(ElevatedOperation operation, const wchar_t* folder, const wchar_t* argument, wchar_t* out,
                           size_t chars) {
    if (!out || chars == 0) return false;
    out[0] = L'\0';
    size_t used = 0;
    for (const OperationName& known : kOperations) {
        if (known.operation != operation) continue;
        used = wcslen(known.name);
        if (used >= chars || !folder || known.sets != (argument != nullptr)) return false;
        wcscpy(out, known.name);
        if (AppendQuoted(out, chars, used, folder) && (!argument || AppendQuoted(out, chars, used, argument))) return true;
    }
    out[0] = L'\0';
    return false;
}

DWORD RunElevatedCommand(int argc, const wchar_t* const* argv) {
    const OperationName* known = nullptr;
    for (const OperationName& candidate : kOperations)
        if (argc >= 1 && wcscmp(argv[0], candidate.name) == 0) known = &candidate;
    if (!known || argc != (known->sets ? 3 : 2)) return ERROR_BAD_ARGUMENTS;
    // The library is given the folder as Explorer gives it to the DLL, without the prefix.
    const wchar_t* folder = DrivePathOf(argv[1]);
    if (!folder) return ERROR_BAD_PATHNAME;
    if (!IsExistingFolder(folder)) return ERROR_PATH_NOT_FOUND;
    wchar_t target[MAX_PATH] = L"";
    bool volumeMount = GetReparseTarget(folder, target) == 0 && wcsncmp(target, L"Volume{", 7) == 0;
    ReparseKind kind = GetReparseKind(folder);
    SetLastError(ERROR_SUCCESS);
    switch (known->operation) {
    case ElevatedOperation::SetVolumeMount:
        if (!IsVolumeName(argv[2])) return ERROR_INVALID_NAME;
        if (kind != ReparseKind::None || !IsFolderEmpty(folder)) return ERROR_DIR_NOT_EMPTY;
        return ErrorOf(MountVolumeByName(folder, argv[2]));
    case ElevatedOperation::SetJunction:
    case ElevatedOperation::ReplaceMount: {
        bool replaces = known->operation == ElevatedOperation::ReplaceMount;
        bool toVolume = replaces && wcsncmp(argv[2], L"\\\\?\\Volume{", 11) == 0;
        if (toVolume && !IsVolumeName(argv[2])) return ERROR_INVALID_NAME;
        const wchar_t* newTarget = toVolume ? argv[2] : DrivePathOf(argv[2]);
        if (!newTarget) return ERROR_BAD_PATHNAME;
        if (!toVolume && !IsExistingFolder(argv[2])) return ERROR_PATH_NOT_FOUND;
        if (replaces && kind != ReparseKind::Mount) return ERROR_NOT_A_REPARSE_POINT;
        if (replaces) return ReplaceMount(folder, volumeMount, newTarget, toVolume);
        if (kind != ReparseKind::None || !IsFolderEmpty(folder)) return ERROR_DIR_NOT_EMPTY;
        return ErrorOf(SetJunction(folder, newTarget));
    }
    case ElevatedOperation::DeleteVolumeMount:
    case ElevatedOperation::DeleteJunction:
        if (kind != ReparseKind::Mount || volumeMount != (known->operation == ElevatedOperation::DeleteVolumeMount))
            return ERROR_NOT_A_REPARSE_POINT;
        return ErrorOf(RemoveReparsePoint(folder));
    }
    return ERROR_BAD_ARGUMENTS;
}

} // namespace kestrune
