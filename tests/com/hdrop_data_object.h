// A hand-written data object that serves a file list as CF_HDROP, the way Explorer hands a drop.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace kestrune::testing {

class HDropDataObject final : public IDataObject {
public:
    explicit HDropDataObject(std::vector<std::wstring> files, bool refuse = false)
        : files_(std::move(files)), refuse_(refuse) {}

    int References() const { return refCount_; }
    int OutstandingMedia() const { return outstandingMedia_; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
            *ppv = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refCount_; }
    STDMETHODIMP_(ULONG) Release() override { return --refCount_; } // lives on the test's stack

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (refuse_) return DV_E_FORMATETC;
        if (!format || !medium || format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        size_t chars = 1;
        for (auto& f : files_) chars += f.size() + 1;
        HGLOBAL block = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
        if (!block) return E_OUTOFMEMORY;
        auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
        drop->pFiles = sizeof(DROPFILES);
        drop->fWide = TRUE;
        auto* text = reinterpret_cast<wchar_t*>(drop + 1);
        for (auto& f : files_) {
            wcscpy(text, f.c_str());
            text += f.size() + 1;
        }
        *text = L'\0';
        GlobalUnlock(block);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        // Released through this object, so the test can see that the handler gave it back.
        medium->pUnkForRelease = &mediumOwner_;
        ++outstandingMedia_;
        mediumOwner_.owner = this;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

private:
    // ReleaseStgMedium releases pUnkForRelease instead of freeing the block; this owner frees it.
    struct MediumOwner final : IUnknown {
        HDropDataObject* owner = nullptr;
        STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override {
            --owner->outstandingMedia_;
            return 1;
        }
    };

    std::vector<std::wstring> files_;
    bool refuse_;
    int refCount_ = 1;
    int outstandingMedia_ = 0;
    MediumOwner mediumOwner_;
};

} // namespace kestrune::testing
