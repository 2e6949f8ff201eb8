// delete and copy: Explorer asks every copy hook before it deletes or copies a folder and leaves
// the folder alone unless all answer yes; the operation itself is the shell's.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "tools/try/commands.h"
#include "tools/try/console.h"
#include "tools/try/handlers.h"

namespace kestrune::trying {
namespace {

const wchar_t* AnswerName(UINT answer) {
    switch (answer) {
    case IDYES: return L"IDYES (go on)";
    case IDNO: return L"IDNO (leave this folder)";
    case IDCANCEL: return L"IDCANCEL (stop the whole operation)";
    default: return L"an unknown answer";
    }
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? full : path;
}

// Asks the hooks; true when every registered hook answered IDYES.
bool HooksAllow(const Options& options, UINT operation, const std::wstring& source, const std::wstring& destination) {
    std::vector<Handler> hooks = ReadHandlers({L"Directory"}, L"CopyHookHandlers");
    if (hooks.empty()) Print(L"no copy hook is registered");
    DWORD sourceAttributes = GetFileAttributesW(source.c_str());
    DWORD destinationAttributes = destination.empty() ? 0 : GetFileAttributesW(destination.c_str());
    for (const Handler& hook : hooks) {
        ComPtr<ICopyHookW> copyHook;
        HRESULT result = CreateHandler(hook, copyHook);
        if (FAILED(result)) {
            // Explorer would go on without it; a folder that only a hook can guard is not worth
            // that risk here (Wine's shell deletes the content behind a linked folder).
            Print(L"copy hook " + Describe(hook) + L": cannot be created, " + ResultText(result) +
                  L"; without its answer nothing is done");
            return false;
        }
        UINT answer = copyHook->CopyCallback(options.owner, operation, 0, source.c_str(), sourceAttributes,
                                             destination.empty() ? nullptr : destination.c_str(), destinationAttributes);
        Print(L"copy hook " + Describe(hook) + L" answers " + AnswerName(answer));
        if (answer != IDYES) return false;
    }
    return true;
}

int RunOperation(const Options& options, UINT operation, const std::wstring& folder, const std::wstring& destination) {
    std::wstring source = FullPath(folder);
    DWORD attributes = GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        PrintError(source + (attributes == INVALID_FILE_ATTRIBUTES ? L" does not exist: " + SystemMessage(HRESULT_FROM_WIN32(GetLastError()))
                                                                   : L" is no folder: Explorer asks copy hooks about folders only"));
        return kFailed;
    }
    wchar_t text[16];
    swprintf(text, 16, L"0x%lX", attributes);
    Print(source + L": attributes " + text + ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? L" (a reparse point)" : L""));
    std::wstring target = destination.empty() ? L"" : FullPath(destination);
    if (!HooksAllow(options, operation, source, target)) {
        Print(source + L" is left as it is");
        return kHookSaidNo;
    }
    // Wine's shell deletes what a linked folder leads to and Windows' may follow one too: a
    // reparse point is removed as itself, the link alone, as Explorer removes a junction.
    bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (operation == FO_DELETE && link) {
        if (!RemoveDirectoryW(source.c_str())) {
            PrintError(L"the link " + source + L" cannot be removed: " + SystemMessage(HRESULT_FROM_WIN32(GetLastError())));
            return kFailed;
        }
        Print(L"removed the link " + source + L" itself; what it leads to is untouched");
    }
    // Into an existing folder the copy goes inside it; to a new name it becomes that name.
    DWORD targetAttributes = target.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(target.c_str());
    std::wstring copy = targetAttributes != INVALID_FILE_ATTRIBUTES && (targetAttributes & FILE_ATTRIBUTE_DIRECTORY)
                            ? target + L"\\" + source.substr(source.find_last_of(L'\\') + 1)
                            : target;
    // Double-NUL-terminated lists, as the shell's file operation takes them.
    std::wstring from = source + L'\0', to = target + L'\0';
    SHFILEOPSTRUCTW operationInfo = {};
    operationInfo.hwnd = options.owner;
    operationInfo.wFunc = operation;
    operationInfo.pFrom = from.c_str();
    operationInfo.pTo = target.empty() ? nullptr : to.c_str();
    operationInfo.fFlags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI | FOF_SILENT;
    int error = operation == FO_DELETE && link ? 0 : SHFileOperationW(&operationInfo);
    if (error != 0 || operationInfo.fAnyOperationsAborted) {
        PrintError(L"the shell's file operation failed: error " + std::to_wstring(error) +
                   (operationInfo.fAnyOperationsAborted ? L", aborted" : L""));
        return kFailed;
    }
    // The shell's word is not enough (Wine's reports a linked folder deleted that is still there).
    bool tookEffect = operation == FO_DELETE ? GetFileAttributesW(source.c_str()) == INVALID_FILE_ATTRIBUTES
                                             : GetFileAttributesW(copy.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!tookEffect) {
        PrintError(L"the shell's file operation reported success, but " +
                   (operation == FO_DELETE ? source + L" is still there" : copy + L" does not exist"));
        return kFailed;
    }
    Print(operation == FO_DELETE ? L"deleted " + source : L"copied " + source + L" to " + copy);
    return kDone;
}

} // namespace

int DeleteCommand(const Options& options, const std::wstring& folder) { return RunOperation(options, FO_DELETE, folder, L""); }

int CopyCommand(const Options& options, const std::wstring& folder, const std::wstring& destination) {
    return RunOperation(options, FO_COPY, folder, destination);
}

} // namespace kestrune::trying
