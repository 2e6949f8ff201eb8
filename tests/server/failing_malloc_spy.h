// Fails the n-th allocation of the COM task allocator while registered, and counts the blocks
// still outstanding, so a test can walk every out-of-memory path and see that nothing leaked.
#pragma once
#include <objbase.h>

#include <set>

namespace kestrune::testing {

// Stays registered for the life of the process once used: Wine's CoRevokeMallocSpy refuses
// after a failed allocation that followed a successful one, even with every block freed.
class FailingMallocSpy final : public IMallocSpy {
public:
    static FailingMallocSpy& Registered() {
        static FailingMallocSpy spy;
        static bool registered = SUCCEEDED(CoRegisterMallocSpy(&spy));
        (void)registered;
        return spy;
    }
    // The n-th allocation from now fails (1 = the next one); 0 = none.
    void Arm(long long failAt) {
        failAt_ = failAt;
        count_ = 0;
        failed_ = false;
    }

    bool Failed() const { return failed_; }
    size_t Outstanding() const { return live_.size(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
            *ppv = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // A zero from PreAlloc makes the allocation fail before anything is taken.
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T request) override {
        if (request != 0 && ++count_ == failAt_) {
            failed_ = true;
            return 0;
        }
        return request;
    }
    STDMETHODIMP_(void*) PostAlloc(void* actual) override {
        if (actual) live_.insert(actual);
        return actual;
    }
    STDMETHODIMP_(void*) PreFree(void* request, BOOL) override {
        live_.erase(request);
        return request;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    // A zero from PreRealloc fails the reallocation and leaves the old block as it was.
    STDMETHODIMP_(SIZE_T) PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) override {
        *newRequest = request;
        if (size != 0 && ++count_ == failAt_) {
            failed_ = true;
            return 0;
        }
        live_.erase(request);
        return size;
    }
    STDMETHODIMP_(void*) PostRealloc(void* actual, BOOL) override {
        if (actual) live_.insert(actual);
        return actual;
    }
    STDMETHODIMP_(void*) PreGetSize(void* request, BOOL) override { return request; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* request, BOOL) override { return request; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

private:
    FailingMallocSpy() = default;
    long long failAt_ = 0;
    long long count_ = 0;
    bool failed_ = false;
    std::set<void*> live_;
};

} // namespace kestrune::testing
