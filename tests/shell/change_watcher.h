// Collects the shell's change notifications delivered to a window of this thread.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <utility>
#include <vector>

namespace kestrune::testing {

class ChangeWatcher {
public:
    ChangeWatcher() {
        window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        previous_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure)));
        PIDLIST_ABSOLUTE desktop = nullptr;
        SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop);
        SHChangeNotifyEntry entry = {desktop, TRUE};
        id_ = SHChangeNotifyRegister(window_, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery,
                                     SHCNE_ALLEVENTS, WM_APP, 1, &entry);
        CoTaskMemFree(desktop);
    }
    ~ChangeWatcher() {
        SHChangeNotifyDeregister(id_);
        DestroyWindow(window_);
    }
    ChangeWatcher(const ChangeWatcher&) = delete;
    ChangeWatcher& operator=(const ChangeWatcher&) = delete;

    bool Registered() const { return id_ != 0; }
    std::vector<std::pair<LONG, std::wstring>> Drain() {
        for (int i = 0; i < 50; ++i) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            Sleep(2);
        }
        return seen_;
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<ChangeWatcher*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_APP) {
            PIDLIST_ABSOLUTE* items = nullptr;
            LONG event = 0;
            HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam),
                                                    &items, &event);
            wchar_t path[MAX_PATH] = {};
            if (items && items[0]) SHGetPathFromIDListW(items[0], path);
            self->seen_.emplace_back(event, path);
            SHChangeNotification_Unlock(lock);
            return 0;
        }
        return CallWindowProcW(self->previous_, window, message, wParam, lParam);
    }
    HWND window_ = nullptr;
    WNDPROC previous_ = nullptr;
    ULONG id_ = 0;
    std::vector<std::pair<LONG, std::wstring>> seen_;
};

} // namespace kestrune::testing
