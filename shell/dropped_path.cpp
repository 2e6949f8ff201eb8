#include "shell/dropped_path.h"

#include <shellapi.h>

namespace kestrune {
namespace {

class ScopedMedium {
public:
    explicit ScopedMedium(STGMEDIUM& medium) : medium_(medium) {}
    ~ScopedMedium() { ReleaseStgMedium(&medium_); }
    ScopedMedium(const ScopedMedium&) = delete;
    ScopedMedium& operator=(const ScopedMedium&) = delete;

private:
    STGMEDIUM& medium_;
};

// Hands the dropped list to `read` for as long as the medium is held; E_FAIL where there is none.
template <typename Read>
HRESULT ReadDrop(IDataObject* data, Read read) {
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (FAILED(data->GetData(&format, &medium))) return E_FAIL;
    ScopedMedium release(medium);
    HDROP drop = static_cast<HDROP>(medium.hGlobal);
    if (medium.tymed != TYMED_HGLOBAL || !drop) return E_FAIL;
    return read(drop);
}

} // namespace

HRESULT GetSingleDroppedPath(IDataObject* data, wchar_t (&path)[MAX_PATH]) {
    return GetSingleDroppedPath(data, path, MAX_PATH);
}

HRESULT GetSingleDroppedPath(IDataObject* data, wchar_t* path, UINT chars) {
    return ReadDrop(data, [&](HDROP drop) {
        if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) != 1) return E_INVALIDARG;
        UINT length = DragQueryFileW(drop, 0, nullptr, 0);
        if (length == 0 || length >= chars) return E_INVALIDARG;
        DragQueryFileW(drop, 0, path, chars);
        return S_OK;
    });
}

HRESULT GetDroppedPaths(IDataObject* data, NameList& paths) {
    paths.Clear();
    return ReadDrop(data, [&](HDROP drop) {
        UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        if (count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) {
            wchar_t path[MAX_PATH];
            UINT length = DragQueryFileW(drop, i, nullptr, 0);
            if (length == 0 || length >= MAX_PATH || DragQueryFileW(drop, i, path, MAX_PATH) != length ||
                !paths.Add(path, length)) {
                paths.Clear();
                return E_INVALIDARG;
            }
        }
        return S_OK;
    });
}

} // namespace kestrune
