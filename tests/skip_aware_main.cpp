// main of test executables whose tests may skip for want of the machine's means (FUSE, a drive):
// a run with skips exits 77, which ctest reports as skipped rather than passed.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    if (result == 0 && ::testing::UnitTest::GetInstance()->skipped_test_count() > 0) return 77;
    return result;
}
