// Accounting of the volume set: handles, blocks, bad releases, statistics, scripted failures and
// polls, and the binding of the kernel table.
#include "tests/fake/fake_volume_model.h"

#include "ntfs/kernel_override.h"

#include <stdexcept>

namespace kestrune::testing {

const KernelApi& FakeVolumeSet::Api() const { return impl_->api; }

void FakeVolumeSet::SetNameCallsPresent(bool present) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    if (present) {
        BindSearchCalls(impl_->api);
    } else {
        impl_->api.FindFirstFileNameW = nullptr;
        impl_->api.FindNextFileNameW = nullptr;
    }
}
void FakeVolumeSet::SetSymbolicLinkRight(SymbolicLinkRight right) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->symbolicLinkRight = right;
}

void FakeVolumeSet::SetUnprivilegedFlagKnown(bool known) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->unprivilegedFlagKnown = known;
}

void FakeVolumeSet::SetStreamCalls(StreamCalls calls) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->streamCalls = calls;
    BindStreamSearchCalls(impl_->api, calls);
}

void FakeVolumeSet::SetByNameQueryPresent(bool present) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    BindByNameQuery(impl_->api, present);
}

FakeVolumeSet* FakeVolumeSet::Active() { return Impl::active; }

int FakeVolumeSet::OpenHandles() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return static_cast<int>(impl_->handles.size());
}

int FakeVolumeSet::LiveBlocks() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return static_cast<int>(impl_->blocks.size() + impl_->backups.size());
}

int FakeVolumeSet::BadReleases() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->badReleases;
}

int FakeVolumeSet::TakeBadReleases() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    int count = impl_->badReleases;
    impl_->badReleases = 0;
    return count;
}

int FakeVolumeSet::CriticalErrorDialogs() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->criticalDialogs;
}

UINT FakeVolumeSet::ErrorMode() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->ThreadErrorMode();
}

FakeStats FakeVolumeSet::Stats() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->stats;
}

void FakeVolumeSet::ResetStats() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    long long live = impl_->stats.liveBytes;
    impl_->stats = FakeStats{};
    impl_->stats.liveBytes = live;
    impl_->stats.peakBytes = live;
}

void FakeVolumeSet::FailAllocationAt(long long n) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    impl_->failAt = n;
    impl_->failureHappened = false;
}

bool FakeVolumeSet::AllocationFailureHappened() {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    return impl_->failureHappened;
}

void FakeVolumeSet::ResetEventAfterPolls(HANDLE event, int polls) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    HandleObject* object = impl_->Find(event, HandleObject::Event);
    if (!object) throw std::runtime_error("fake volumes: not a fake event");
    object->event.resetAfter = polls;
    object->event.polls = 0;
}

int FakeVolumeSet::PollCount(HANDLE event) {
    std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
    HandleObject* object = impl_->Find(event, HandleObject::Event);
    return object ? object->event.polls : -1;
}

ScopedFakeKernel::ScopedFakeKernel(FakeVolumeSet& volumes) {
    Impl::active = &volumes;
    previous_ = ReplaceKernelApi(&volumes.Api());
}

ScopedFakeKernel::~ScopedFakeKernel() {
    ReplaceKernelApi(previous_);
    Impl::active = nullptr;
}

} // namespace kestrune::testing
