#include "shell/command_verb.h"

#include <algorithm>
#include <climits>
#include <cwchar>

#include "shell/hardlink/hardlink_object.h"
#include "shell/reparsepoint/reparsepoint_texts.h"
#include "shell/ui_language.h"

namespace kestrune {

const CommandVerb kCommandVerbs[5] = {
    {"KestruneCreateHardLink", L"KestruneCreateHardLink", kCreateHardLinkHelpText},
    {"KestruneCreateMount", L"KestruneCreateMount", kCreateHelpText},
    {"KestruneMountInformation", L"KestruneMountInformation", kInfoHelpText},
    {"KestruneCreateSymbolicLink", L"KestruneCreateSymbolicLink", kCreateSymbolicLinkHelpText},
    {"KestruneCreateJunction", L"KestruneCreateJunction", kCreateJunctionHelpText},
};

namespace {

const CommandVerb& Row(MenuCommand command) { return kCommandVerbs[static_cast<int>(command)]; }

// The longest whole-character prefix of `text` that fits `bytes` bytes of the ANSI code page
// with its terminator: a double-byte character is never cut in half.
void CopyAnsi(const wchar_t* text, char* out, UINT bytes) {
    int chars = static_cast<int>(wcslen(text));
    int needed = 0;
    for (; chars > 0; --chars) {
        needed = WideCharToMultiByte(CP_ACP, 0, text, chars, nullptr, 0, nullptr, nullptr);
        if (needed > 0 && static_cast<UINT>(needed) < bytes) break;
    }
    if (chars > 0) WideCharToMultiByte(CP_ACP, 0, text, chars, out, needed, nullptr, nullptr);
    out[chars > 0 ? needed : 0] = '\0';
}

} // namespace

bool InvokesCommand(const CMINVOKECOMMANDINFO* info, MenuCommand command, UINT_PTR offset) {
    if (!info) return false;
    if ((info->fMask & CMIC_MASK_UNICODE) && info->cbSize >= sizeof(CMINVOKECOMMANDINFOEX)) {
        LPCWSTR wide = reinterpret_cast<const CMINVOKECOMMANDINFOEX*>(info)->lpVerbW;
        if (IS_INTRESOURCE(wide)) return reinterpret_cast<UINT_PTR>(wide) == offset;
        return lstrcmpiW(wide, Row(command).wideVerb) == 0;
    }
    if (IS_INTRESOURCE(info->lpVerb)) return IsCommandOffset(info->lpVerb, offset);
    return lstrcmpiA(info->lpVerb, Row(command).verb) == 0;
}

// A verb that does not fit is refused rather than cut: a cut verb names another command.
HRESULT AnswerCommandString(MenuCommand command, UINT_PTR offset, UINT type, CHAR* name, UINT chars,
                            UINT_PTR ownOffset) {
    if (type == GCS_VALIDATEA || type == GCS_VALIDATEW) return offset == ownOffset ? S_OK : S_FALSE;
    if (offset != ownOffset) return E_INVALIDARG;
    if (type != GCS_HELPTEXTA && type != GCS_HELPTEXTW && type != GCS_VERBA && type != GCS_VERBW) return E_NOTIMPL;
    if (!name || chars == 0) return E_INVALIDARG;
    const CommandVerb& row = Row(command);
    auto* wide = reinterpret_cast<wchar_t*>(name);
    switch (type) {
    case GCS_HELPTEXTW: {
        UiText text(row.helpText);
        lstrcpynW(wide, text, static_cast<int>(std::min<UINT>(chars, INT_MAX)));
        return S_OK;
    }
    case GCS_HELPTEXTA: CopyAnsi(UiText(row.helpText), name, chars); return S_OK;
    case GCS_VERBW:
        if (wcslen(row.wideVerb) >= chars) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        wcscpy(wide, row.wideVerb);
        return S_OK;
    default:
        if (strlen(row.verb) >= chars) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        strcpy(name, row.verb);
        return S_OK;
    }
}

} // namespace kestrune
