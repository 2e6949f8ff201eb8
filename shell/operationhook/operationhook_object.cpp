#include "shell/operationhook/operationhook_object.h"

#include <shellapi.h>

#include <cwchar>

#include "ntfs/reparse/reparse_kind.h"
#include "shell/activation_context.h"
#include "shell/bounded_text.h"
#include "shell/ui_language.h"

namespace kestrune {
namespace {

// The string table's texts.
constexpr UINT kDeleteQuestion = 145;
constexpr UINT kCopyRefused = 146;
constexpr size_t kTitleChars = 520;

const InterfaceEntry<OperationHookObject> operationHookRows[] = {
    {&IID_ICopyHookW, InterfaceOf<OperationHookObject, ICopyHookW>},
};

// The disk's reparse tag decides, not the caller's attributes: mounts and folder links are
// guarded, a cloud folder is not. A drive root (3 characters) never counts.
bool IsGuardedFolder(const wchar_t* path) {
    return path && wcsnlen(path, 4) > 3 && LeadsElsewhere(GetReparseKind(path));
}

} // namespace

const InterfaceTable<OperationHookObject> OperationHookObject::interfaces = MakeInterfaceTable(operationHookRows);

OperationHookObject::OperationHookObject() : caption_{} { LoadUiString(kCaptionText, caption_, 100); }

UINT OperationHookObject::CopyCallback(HWND owner, UINT operation, UINT flags, LPCWSTR source, DWORD, LPCWSTR,
                                       DWORD) {
    if ((operation != FO_DELETE && operation != FO_COPY) || !IsGuardedFolder(source)) return IDYES;
    // A caller that asked for no questions may have no one to answer them: the delete goes ahead,
    // as it would without this hook, and the copy is refused, both without a box (FOF_NO_UI carries
    // both flags).
    if (flags & (FOF_SILENT | FOF_NOCONFIRMATION)) return operation == FO_DELETE ? IDYES : IDNO;
    // "%s - %s": a path too long for the title is cut there, and only there.
    wchar_t title[kTitleChars];
    BoundedText(title, kTitleChars).Append(caption_).Append(L" - ").AppendCut(source);
    ScopedActivation themed;
    if (operation == FO_DELETE)
        return MessageBoxW(owner, UiText(kDeleteQuestion), title, MB_ICONWARNING | MB_YESNO) == IDYES ? IDYES : IDNO;
    MessageBoxW(owner, UiText(kCopyRefused), title, MB_ICONERROR);
    return IDNO;
}

} // namespace kestrune
