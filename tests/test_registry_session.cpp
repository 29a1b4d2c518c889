// A whole session around a setup that writes keys under all four roots and
// registers its own uninstaller: the offer is declined, everything is picked
// in the dialog, and the registry ends as it was before setup.
#include "registry/registry.h"
#include "resources/resource.h"
#include "session/session.h"
#include "support/dialog_script.h"
#include "support/hosted_test.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char kSetupName[] = "Trun95WholeSession";

std::vector<std::string> differences;

int CollectDifference(const char* pszParentPath, const char* pszName, DWORD dwCode, RTREE*) {
    std::string path = std::string(pszParentPath) + "\\" + pszName;
    // Wine keeps this volatile key of its own for the process's first mouse
    // settings query (the dialogs make one); it is not the setup's.
    if (path.find("\\Software\\Wine\\Temporary System Parameters") == std::string::npos)
        differences.push_back(std::to_string(dwCode) + " " + path);
    return 1;
}

// Every difference between a snapshot and the registry as it is now.
std::vector<std::string> ChangesSince(REGTRE** ppBefore, HWND hwndStatus) {
    REGTRE* pNow = nullptr;
    TakeRegistrySnapshot(&pNow, hwndStatus);
    differences.clear();
    CompareRegistrySnapshots(ppBefore, &pNow, CollectDifference, CollectDifference);
    FreeRegistrySnapshot(&pNow);
    return differences;
}

class RegistrySessionTest : public HostedTest {
  protected:
    void TearDown() override {
        post_setup_cleanup();
        FreeRegistrySnapshot(&pBefore);
        RunProgram(BuildPath("trun95_regsetup.exe") + " uninstall " + kSetupName);
        HostedTest::TearDown();
    }
    REGTRE* pBefore = nullptr;
};

TEST_F(RegistrySessionTest, PickedRegistryActionsPutEveryRootBackAsItWas) {
    LoadRegistryStrings();
    TakeRegistrySnapshot(&pBefore, host.status());
    ASSERT_EQ(pre_setup_save(host.hwnd(), host.status()), TRUE);
    ASSERT_EQ(RunProgram(BuildPath("trun95_regsetup.exe") + " setup " + kSetupName), 0u);
    ASSERT_FALSE(ChangesSince(&pBefore, host.status()).empty());

    robot.ExpectBox("Program Uninstall Detected",
                    std::string("The installed program (") + kSetupName +
                        ") supports the Windows 95 system uninstaller.  Do you wish to use its "
                        "built-in uninstaller?",
                    IDNO);
    DialogScript script(robot);
    script.Expect("Uninstall", [](HWND hDlg) {
        PressButton(hDlg, IDC_SELECT_ALL);
        Settle(hDlg);
        PressButton(hDlg, IDOK);
    });
    EXPECT_EQ(post_setup_uninstall(host.hwnd(), host.status()), 0);
    script.Join();

    EXPECT_EQ(ChangesSince(&pBefore, host.status()), std::vector<std::string>{});
}

} // namespace
