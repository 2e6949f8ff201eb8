// The library's activation context, made from its own manifest (resource 2): the windows the
// library creates (the page, dialogs, message boxes, the common dialogs) get the common controls
// of version 6 whatever the host's manifest says. mingw has no isolation-aware wrappers: the
// context is activated around each piece of user interface instead.
#pragma once
#include <windows.h>

namespace kestrune {

// Made on first use and released when the library may unload; null when it cannot be made
// (the user interface then looks as the host's does, and works the same).
HANDLE LibraryActivationContext();

// Activates the library's context for the scope.
class ScopedActivation {
public:
    ScopedActivation();
    ~ScopedActivation();
    ScopedActivation(const ScopedActivation&) = delete;
    ScopedActivation& operator=(const ScopedActivation&) = delete;

private:
    ULONG_PTR cookie_ = 0;
    bool active_ = false;
};

// The library's icon `id` at the small-icon size of the current DPI, scaled down from a larger
// image where that size has none (LoadIconWithScaleDown, from the common controls 6); null when it
// cannot be loaded. The caller destroys it.
HICON LoadSmallIcon(UINT id);

} // namespace kestrune
