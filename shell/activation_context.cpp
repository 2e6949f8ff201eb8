#include "shell/activation_context.h"

#include "server/module.h"

namespace kestrune {
namespace {

HANDLE context = nullptr;

void ReleaseContext(DWORD_PTR) {
    HANDLE made = InterlockedExchangePointer(&context, nullptr);
    if (made) ReleaseActCtx(made);
}

} // namespace

HANDLE LibraryActivationContext() {
    if (HANDLE made = InterlockedCompareExchangePointer(&context, nullptr, nullptr)) return made;
    ServerModule& m = Module();
    EnterCriticalSection(&m.classTableLock);
    if (!context) {
        ACTCTXW request = {};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.hModule = m.instance;
        request.lpResourceName = MAKEINTRESOURCEW(2); // ISOLATIONAWARE_MANIFEST_RESOURCE_ID
        HANDLE made = CreateActCtxW(&request);
        if (made != INVALID_HANDLE_VALUE) {
            if (SUCCEEDED(m.AddCleanup(ReleaseContext, 0)))
                InterlockedExchangePointer(&context, made);
            else
                ReleaseActCtx(made);
        }
    }
    LeaveCriticalSection(&m.classTableLock);
    return InterlockedCompareExchangePointer(&context, nullptr, nullptr);
}

ScopedActivation::ScopedActivation() {
    HANDLE made = LibraryActivationContext();
    active_ = made && ActivateActCtx(made, &cookie_);
}

ScopedActivation::~ScopedActivation() {
    if (active_) DeactivateActCtx(0, cookie_);
}

// mingw's import library lacks LoadIconWithScaleDown: it is looked up in the common controls 6,
// which the library's context selects. Without it, the system's own scaling loads the icon.
HICON LoadSmallIcon(UINT id) {
    using ScaleDownProc = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
    HICON icon = nullptr;
    ScopedActivation controls6;
    HMODULE controls = LoadLibraryW(L"comctl32.dll");
    auto scaleDown = controls ? reinterpret_cast<ScaleDownProc>(GetProcAddress(controls, "LoadIconWithScaleDown")) : nullptr;
    if (!scaleDown || FAILED(scaleDown(Module().instance, MAKEINTRESOURCEW(id), cx, cy, &icon)))
        icon = static_cast<HICON>(LoadImageW(Module().instance, MAKEINTRESOURCEW(id), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
    if (controls) FreeLibrary(controls);
    return icon;
}

} // namespace kestrune
