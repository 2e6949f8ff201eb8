// The sheet extension's role: accept one item on NTFS, add the page, and give the page's
// reference back when the sheet lets the page go.
#include "shell/propntfs/propntfs_object.h"

#include <commctrl.h>

#include "ntfs/kernel.h"
#include "ntfs/volumes/volumes.h"
#include "server/module.h"
#include "shell/dropped_path.h"

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
    page.pResource = UiDialog(kPageDialog);
    if (!page.pResource) return E_FAIL;
    page.pszTitle = caption_;
    page.pfnDlgProc = PageProcedure;
    page.lParam = reinterpret_cast<LPARAM>(this);
    // An open page keeps the library loaded: the callback's add-ref and release take and give back
    // a module lock, interlocked (the sheet's own count on pcRefParent is not).
    page.pfnCallback = PageCallback;

    static_cast<IShellPropSheetExt*>(this)->AddRef(); // the page's own reference, given back at PSPCB_RELEASE
    ++pageReferences_;
    HPROPSHEETPAGE handle = CreatePropertySheetPageW(&page);
    if (handle && addPage(handle, lParam)) return S_OK;
    // Whether destroying a refused page runs its release is the platform's affair: the count
    // tells whether the reference is still ours to give back.
    int held = pageReferences_;
    if (handle) DestroyPropertySheetPage(handle);
    if (pageReferences_ == held) {
        --pageReferences_;
        static_cast<IShellPropSheetExt*>(this)->Release();
    }
    return S_OK;
}

HRESULT PropNtfsObject::ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) { return E_NOTIMPL; }

UINT CALLBACK PropNtfsObject::PageCallback(HWND, UINT message, PROPSHEETPAGEW* page) {
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
