#include "tests/fake/leak_checked_test.h"

#include <cstdio>

namespace kestrune::testing {

LeakCheckedTest::LeakCheckedTest() = default;

void LeakCheckedTest::ExpectNothingLeaked(const char* when, int ownHandles) {
    EXPECT_EQ(volumes.OpenHandles(), ownHandles) << "open handles " << when;
    EXPECT_EQ(volumes.LiveBlocks(), 0) << "live heap blocks " << when;
    EXPECT_EQ(volumes.BadReleases(), 0) << "releases of unknown objects " << when;
}

void LeakCheckedTest::TearDown() {
    ExpectNothingLeaked("at the end of the test");
    EXPECT_EQ(volumes.CriticalErrorDialogs(), 0) << "a system critical-error dialog would have shown";
    EXPECT_EQ(volumes.ErrorMode(), 0u) << "the thread's error mode was not restored";
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char code[12];
            snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(c));
            out += code;
        }
    }
    return out;
}

} // namespace kestrune::testing
