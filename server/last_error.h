// The HRESULT of a failed system call, from the thread's last error.
#pragma once
#include <windows.h>

namespace kestrune {

// A failure that left the last error at 0 is still a failure: E_FAIL, never S_OK.
inline HRESULT LastErrorResult() {
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

} // namespace kestrune
