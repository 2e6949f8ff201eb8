// The sheet extension's role: accept one item on NTFS, add the page, and give the page's
// reference back when the sheet lets the page go.
#include "shell/propntfs/propntfs_object.h"

#include <commctrl.h>

#include <cstring>

#include "ntfs/kernel.h"
#include "ntfs/volumes/volumes.h"
#include "server/module.h"
#include "shell/activation_context.h"
#include "shell/dropped_path.h"
#include "shell/ui_language.h"

namespace kestrune {

HRESULT PropNtfsObject::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
    if (!data) return E_INVALIDARG;
    InitCommonControls();
    HRESULT dropped = GetSingleDroppedPath(data, filePath_, kLongestPathChars);
    if (dropped != S_OK) return dropped;
    // From here on the page acts on this file, whatever becomes of the path: taken exactly, so that
    // "abc." is not "abc", and whole however long.
    ScopedGlobal exact(kLongestPathChars * sizeof(wchar_t));
    if (!exact.Valid()) return E_OUTOFMEMORY;
    if (!MakeVerbatimPath(filePath_, exact.As<wchar_t>(), kLongestPathChars)) return E_INVALIDARG;
    file_.Reset(OpenFileToHold(exact.As<wchar_t>()));
    if (!file_.Valid()) return E_FAIL;
    int ntfs = BoundedPathLength(filePath_) < MAX_PATH ? IsNTFSVolume(filePath_) : IsHeldFileOnNtfs(file_.Get());
    return ntfs ? S_OK : E_INVALIDARG;
}

HRESULT PropNtfsObject::AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM lParam) {
    if (!addPage) return E_INVALIDARG;
    PROPSHEETPAGEW page = {};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE | PSP_USECALLBACK;
    page.hInstance = Module().instance;
    // Some versions of Windows write into an indirect page's template, and the library's resources
    // are read-only: the page gets a copy of its own, freed at PSPCB_RELEASE.
    DWORD bytes = 0;
    const void* resource = FindUiResource(RT_DIALOG, kPageDialog, &bytes);
    if (!resource) return E_FAIL;
    void* copy = HeapAlloc(GetProcessHeap(), 0, bytes);
    if (!copy) return E_OUTOFMEMORY;
    memcpy(copy, resource, bytes);
    page.pResource = static_cast<const DLGTEMPLATE*>(copy);
    page.pszTitle = caption_;
    page.pfnDlgProc = PageProcedure;
    page.lParam = reinterpret_cast<LPARAM>(this);
    // An open page keeps the library loaded: the callback's add-ref and release take and give back
    // a module lock, interlocked (the sheet's own count on pcRefParent is not).
    page.pfnCallback = PageCallback;
    // The page and what it opens use the library's common controls, themed, in any host.
    if ((page.hActCtx = LibraryActivationContext())) page.dwFlags |= PSP_USEFUSIONCONTEXT;

    static_cast<IShellPropSheetExt*>(this)->AddRef(); // the page's own reference, given back at PSPCB_RELEASE
    ++pageReferences_;
    HPROPSHEETPAGE handle = CreatePropertySheetPageW(&page);
    if (handle && addPage(handle, lParam)) return S_OK;
    // Whether destroying a refused page runs its release is the platform's affair: the count
    // tells whether the reference is still ours to give back.
    int held = pageReferences_;
    if (handle) DestroyPropertySheetPage(handle);
    if (pageReferences_ == held) {
        HeapFree(GetProcessHeap(), 0, copy);
        --pageReferences_;
        static_cast<IShellPropSheetExt*>(this)->Release();
    }
    return S_OK;
}

HRESULT PropNtfsObject::ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) { return E_NOTIMPL; }

UINT CALLBACK PropNtfsObject::PageCallback(HWND, UINT message, PROPSHEETPAGEW* page) {
    if (message == PSPCB_RELEASE && page) HeapFree(GetProcessHeap(), 0, const_cast<DLGTEMPLATE*>(page->pResource));
    auto* self = page ? reinterpret_cast<PropNtfsObject*>(page->lParam) : nullptr;
    if (message == PSPCB_ADDREF && self) {
        Module().Lock();
        InterlockedIncrement(&self->pageModuleLocks_);
    }
    if (message == PSPCB_RELEASE && self) {
        if (InterlockedDecrement(&self->pageModuleLocks_) >= 0)
            Module().Unlock();
        else
            InterlockedIncrement(&self->pageModuleLocks_);
        if (self->pageReferences_ > 0) {
            // The worker stops at its next poll; the destruction waits a little for it.
            self->EndWorker();
            --self->pageReferences_;
            static_cast<IShellPropSheetExt*>(self)->Release();
        }
    }
    return 1;
}

} // namespace kestrune
