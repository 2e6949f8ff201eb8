// A long copy on a worker thread, with a progress window and a Cancel button after about a second,
// while the calling thread goes on dispatching its windows' messages.
#pragma once
#include <windows.h>

#include "shell/propntfs/stream_ops.h"

namespace kestrune {

constexpr UINT kCopyProgressDialog = 211;
constexpr int kCopyProgressBar = 1001;
constexpr DWORD kProgressDelayMilliseconds = 1000;

using CopyWork = StreamOutcome (*)(void* context, CopyProgress* progress);

// Runs `work` on a worker and returns its outcome once the worker has ended; the worker holds a
// module lock and a reference to the library until its last instruction. `owner`'s top window is
// disabled meanwhile, as under a modal dialog. Where no worker can start, the work runs here.
StreamOutcome RunWithProgress(HWND owner, CopyWork work, void* context);

template <typename Work> StreamOutcome RunWithProgress(HWND owner, Work& work) {
    return RunWithProgress(owner, [](void* context, CopyProgress* progress) { return (*static_cast<Work*>(context))(progress); },
                           &work);
}

} // namespace kestrune
