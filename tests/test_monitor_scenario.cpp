// The setup scenario of the file tests, once with its changes fed to the
// recorder by hand and once inside a real session with the monitor alone
// watching: both runs end in the same undo actions and cautions.
#include "common/util.h"
#include "files/recorder.h"
#include "monitor/monitor.h"
#include "session/session.h"
#include "support/monitor_wait.h"
#include "support/setup_scenario.h"

namespace {

class MonitoredScenarioTest : public SetupScenarioTest {
  protected:
    void TearDown() override {
        post_setup_cleanup();
        SetupScenarioTest::TearDown();
    }
};

TEST_F(MonitoredScenarioTest, MonitorAloneGivesTheActionsOfTheHandFedChanges) {
    Outcome handFed = RunHandFed();
    ASSERT_FALSE(handFed.actions.empty());
    RemoveTree(szTempDir);
    FreeFileLists();
    PrepareMachine();
    // Made before the session starts: never part of what setup did.
    ASSERT_TRUE(CreateDirectoryA((programs + "\\AcmeEarly").c_str(), nullptr));
    ScratchFolder logFolder("monitor-scenario-log");
    ASSERT_TRUE(pre_setup_save(host.hwnd(), host.status()));
    DWORD dwBefore = MonitorRecordsHandedOver();
    std::vector<std::string> lines = RunSetup(logFolder);
    // Every logged change and the log's own creation and deletion; other
    // processes of the prefix may add records of their own meanwhile.
    EXPECT_TRUE(WaitForHandedOver(dwBefore + static_cast<DWORD>(lines.size()) + 2));
    StopRecording();
    Outcome monitored = CompareAfterSetup();
    EXPECT_EQ(monitored.actions, handFed.actions);
    EXPECT_EQ(monitored.cautions, handFed.cautions);
}

} // namespace
