// A fixture for code that shows the library's boxes outside a session: a
// host window stands in as hwndParent and the robot answers the boxes.
#pragma once

#include "test_host_window.h"
#include "robot.h"
#include "common/library.h"

#include <gtest/gtest.h>

class HostedTest : public testing::Test {
  protected:
    void SetUp() override { hwndParent = host.hwnd(); }
    void TearDown() override {
        robot.Finish();
        hwndParent = nullptr;
    }
    HostWindow host;
    Robot robot;
};
