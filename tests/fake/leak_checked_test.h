// A test fixture on a fresh volume set that fails the test when anything it handed out leaked.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "tests/fake/fake_volumes.h"

namespace kestrune::testing {

class LeakCheckedTest : public ::testing::Test {
protected:
    LeakCheckedTest();
    void TearDown() override;

    // Fails the test when a handle (beyond the test's own), block or backup context is still live,
    // or a release was bad.
    void ExpectNothingLeaked(const char* when = "", int ownHandles = 0);

    // Runs `call` with the n-th allocation failing, for n = 1, 2, ... until a run needs no failure;
    // after each run nothing may have leaked. Returns the number of failure paths walked.
    template <typename Call> int ForEachAllocationFailure(Call call) {
        int paths = 0;
        for (long long n = 1; n < 100000; ++n) {
            volumes.FailAllocationAt(n);
            call(true);
            bool failed = volumes.AllocationFailureHappened();
            volumes.FailAllocationAt(0);
            ExpectNothingLeaked(("allocation failure #" + std::to_string(n)).c_str());
            if (!failed) break;
            ++paths;
        }
        return paths;
    }

    FakeVolumeSet volumes;

private:
    ScopedFakeKernel binding_{volumes};
};

// Narrow text of a wide string, code points above 0x7F escaped, for readable failures.
std::string Narrow(const std::wstring& text);

} // namespace kestrune::testing
