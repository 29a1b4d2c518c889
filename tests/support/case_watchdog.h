// The last bound on every test case: a case still running after its limit
// (a wait that nobody ends) is reported with the windows then open, and the
// test program ends with a failure instead of waiting for ever.
#pragma once

#include <gtest/gtest.h>

// Watches each case of the program from a thread of its own. The limit is
// TRUN95_CASE_SECONDS when set, else four minutes.
void InstallCaseWatchdog(testing::TestEventListeners& listeners);
