// Heap blocks (counted, and failed on request) and events (with scripted polls).
#include "tests/fake/fake_volume_model.h"

#include <algorithm>
#include <cstring>

namespace kestrune::testing {
namespace {

HGLOBAL WINAPI FakeGlobalAlloc(UINT flags, SIZE_T bytes) {
    Guard g;
    Impl* impl = g.impl;
    ++impl->stats.allocations;
    if (impl->failAt > 0 && --impl->failAt == 0) {
        impl->failureHappened = true;
        return Fail<HGLOBAL>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    HGLOBAL block = ::GlobalAlloc(GMEM_FIXED | (flags & GMEM_ZEROINIT), bytes ? bytes : 1);
    if (!block) return nullptr;
    if (!(flags & GMEM_ZEROINIT)) std::memset(block, 0xCD, bytes);
    impl->blocks.emplace(block, bytes);
    impl->stats.liveBytes += static_cast<long long>(bytes);
    impl->stats.peakBytes = std::max(impl->stats.peakBytes, impl->stats.liveBytes);
    return block;
}

HGLOBAL WINAPI FakeGlobalFree(HGLOBAL block) {
    Guard g;
    auto it = g.impl->blocks.find(block);
    if (it == g.impl->blocks.end()) {
        ++g.impl->badReleases;
        return block;
    }
    g.impl->stats.liveBytes -= static_cast<long long>(it->second);
    g.impl->blocks.erase(it);
    return ::GlobalFree(block);
}

HANDLE WINAPI FakeCreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual, BOOL initial, LPCWSTR) {
    Guard g;
    HandleObject object;
    object.kind = HandleObject::Event;
    object.event.manual = manual != FALSE;
    object.event.signalled = initial != FALSE;
    return g.impl->NewHandle(std::move(object));
}

// Fake events change state here; real ones (made by the caller itself) go to the system.
BOOL SetEventState(HANDLE handle, bool signalled) {
    {
        Guard g;
        if (HandleObject* object = g.impl->Find(handle, HandleObject::Event)) {
            object->event.signalled = signalled;
            return TRUE;
        }
    }
    return signalled ? ::SetEvent(handle) : ::ResetEvent(handle);
}

BOOL WINAPI FakeSetEvent(HANDLE handle) { return SetEventState(handle, true); }

BOOL WINAPI FakeResetEvent(HANDLE handle) { return SetEventState(handle, false); }

DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    DWORD waited = 0;
    for (;;) {
        {
            Guard g;
            HandleObject* object = g.impl->Find(handle, HandleObject::Event);
            if (!object) break;
            FakeEvent& event = object->event;
            ++event.polls;
            if (event.resetAfter >= 0 && event.polls > event.resetAfter) event.signalled = false;
            if (event.signalled) {
                if (!event.manual) event.signalled = false;
                return WAIT_OBJECT_0;
            }
            if (milliseconds != INFINITE && waited >= milliseconds) return WAIT_TIMEOUT;
        }
        Sleep(1);
        ++waited;
    }
    return ::WaitForSingleObject(handle, milliseconds);
}

} // namespace

void BindHeapAndEventCalls(KernelApi& api) {
    api.GlobalAlloc = FakeGlobalAlloc;
    api.GlobalFree = FakeGlobalFree;
    api.CreateEventW = FakeCreateEventW;
    api.SetEvent = FakeSetEvent;
    api.ResetEvent = FakeResetEvent;
    api.WaitForSingleObject = FakeWaitForSingleObject;
}

} // namespace kestrune::testing
