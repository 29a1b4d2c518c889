// A fixture for tests that run the file-system monitor: the monitor feeds the
// recorder, which starts empty; the monitor is stopped and the recorder
// emptied at the end.
#pragma once

#include "files/recorder.h"
#include "hosted_test.h"
#include "monitor/monitor.h"

class MonitoredTest : public HostedTest {
  protected:
    void SetUp() override {
        HostedTest::SetUp();
        FreeRecordedChanges();
        SetMonitorSink(RecordFileChange);
    }
    void TearDown() override {
        StopMonitor();
        HostedTest::TearDown();
        FreeRecordedChanges();
    }
};
