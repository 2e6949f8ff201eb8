// OperationHook: the copy hook that refuses to copy a folder carrying a reparse point and asks
// before such a folder is deleted.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include "server/interface_table.h"

namespace kestrune {

class OperationHookObject : public ICopyHookW {
public:
    static const InterfaceTable<OperationHookObject> interfaces;

    // ICopyHookW: IDYES lets the operation go on for this folder, IDNO skips it. Under FOF_SILENT,
    // FOF_NOCONFIRMATION or FOF_NO_UI nothing is shown.
    STDMETHODIMP_(UINT) CopyCallback(HWND owner, UINT operation, UINT flags, LPCWSTR source, DWORD sourceAttributes,
                                     LPCWSTR destination, DWORD destinationAttributes) override;

protected:
    OperationHookObject();
    ~OperationHookObject() = default;

private:
    wchar_t caption_[100];
};

} // namespace kestrune
