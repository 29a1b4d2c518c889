// Test programs link the library's code and its resources directly, so the
// library's instance is the test program itself.
#include "case_watchdog.h"
#include "common/library.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    hinstLib = GetModuleHandleA(nullptr);
    testing::InitGoogleTest(&argc, argv);
    InstallCaseWatchdog(testing::UnitTest::GetInstance()->listeners());
    return RUN_ALL_TESTS();
}
