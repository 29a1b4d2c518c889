// The registry side of a whole session around a helper setup that writes
// keys under all four roots and registers its own uninstaller.
#include "actions/deaction.h"
#include "common/util.h"
#include "registry/registry.h"
#include "session/session.h"
#include "support/host_window.h"
#include "support/robot.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

constexpr char kCaption[] = "Program Uninstall Detected";
constexpr char kPressOk[] = "Press 'OK' when the uninstall is complete";
constexpr char kContinue[] = "Do you want to continue to run Tarnel's uninstaller to check for any "
                             "remaining system configuration changes?";
constexpr char kOffer[] = "The installed program (Trun95TestApp) supports the Windows 95 system "
                          "uninstaller.  Do you wish to use its built-in uninstaller?";
constexpr char kApp[] = "Trun95TestApp";
const std::string kEntry = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Trun95TestApp";
const std::string kUnload =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL";

struct Place {
    HKEY hRoot;
    std::string path;
};

// What the helper's own uninstaller leaves behind in this test.
const Place kLeftovers[] = {
    {HKEY_CLASSES_ROOT, "Trun95TestAppLeft"},
    {HKEY_LOCAL_MACHINE, "Software\\Trun95TestAppLeft"},
    {HKEY_CURRENT_USER, "Software\\Trun95TestAppLeft"},
    {HKEY_USERS, ".Default\\Software\\Trun95TestAppLeft"},
};

std::string RegSetupCommand(const char* pszVerb) {
    std::string command(1, '"');
    command.append(BuildPath("trun95_regsetup.exe")).append("\" ").append(pszVerb);
    return command.append(" ").append(kApp);
}

bool WaitUntilGone(HKEY hRoot, const std::string& path) {
    for (int i = 0; i < 150; ++i) {
        if (!TestKeyExists(hRoot, path))
            return true;
        Sleep(100);
    }
    return false;
}

class RegistrySessionTest : public testing::Test {
  protected:
    void SetUp() override {
        hwndParent = host.hwnd();
        RemoveAll();
        unloadBefore = ReadLiveValues(HKEY_LOCAL_MACHINE, kUnload);
    }
    void TearDown() override {
        post_setup_cleanup();
        FreeActionList();
        FreeRegistrySnapshot(&pBefore);
        FreeRegistrySnapshot(&pAfter);
        robot.Finish();
        RemoveAll();
        hwndParent = nullptr;
    }
    static void RemoveAll() {
        RunProgram(RegSetupCommand("uninstall"));
        for (const Place& place : kLeftovers)
            RemoveTestKey(place.hRoot, place.path);
    }
    void RunSetupWithLeftovers() {
        ASSERT_EQ(RunProgram(RegSetupCommand("setup")), 0u);
        for (const Place& place : kLeftovers) {
            SetTestString(place.hRoot, place.path, "Left", "behind");
            SetTestString(place.hRoot, place.path + "\\Below", "", "default");
        }
    }
    HostWindow host;
    Robot robot;
    REGTRE* pBefore = nullptr;
    REGTRE* pAfter = nullptr;
    std::vector<LiveValue> unloadBefore;
};

TEST_F(RegistrySessionTest, StoppingAfterTheOwnUninstallerEndsTheSessionWithoutComparing) {
    ASSERT_EQ(pre_setup_save(host.hwnd(), host.status()), TRUE);
    RunSetupWithLeftovers();
    robot.ExpectBox(kCaption, kOffer, IDYES);
    robot.ExpectBox(kCaption, kPressOk, IDOK);
    robot.ExpectBox(kCaption, kContinue, IDNO);
    EXPECT_EQ(post_setup_uninstall(host.hwnd(), host.status()), 0);
    EXPECT_EQ(fInSession, 0);
    EXPECT_TRUE(WaitUntilGone(HKEY_LOCAL_MACHINE, kEntry));
    // Nothing was compared or carried out: the leftovers are still there and
    // the shell's setting was never touched.
    EXPECT_TRUE(TestKeyExists(HKEY_CURRENT_USER, kLeftovers[2].path));
    EXPECT_EQ(ReadLiveValues(HKEY_LOCAL_MACHINE, kUnload), unloadBefore);
}

// The session's registry steps in their order, with the actions carried
// out at the end as the dialog would.
TEST_F(RegistrySessionTest, GoingOnYieldsActionsThatPutTheRegistryBackExactly) {
    LoadRegistryStrings();
    TakeRegistrySnapshot(&pBefore, host.status());
    RunSetupWithLeftovers();

    robot.ExpectBox(kCaption, kOffer, IDYES);
    robot.ExpectBox(kCaption, kPressOk, IDOK);
    robot.ExpectBox(kCaption, kContinue, IDYES);
    TakeSoftwareSnapshot(&pAfter, host.status());
    ASSERT_EQ(DetectSystemUninstaller(&pBefore, &pAfter), 0);
    ASSERT_TRUE(WaitUntilGone(HKEY_LOCAL_MACHINE, kEntry));
    ASSERT_TRUE(WaitUntilGone(HKEY_USERS, ".Default\\Software\\Trun95TestApp"));
    FreeRegistrySnapshot(&pAfter);
    TakeRegistrySnapshot(&pAfter, host.status());
    SetExplorerUnload(1);
    CompareRegistrySnapshots(&pBefore, &pAfter, OnRegValueChange, OnRegKeyChange);

    Texts texts = RegistryActionTexts(kApp);
    for (const char* pszShown : {"Key Added Hkey_classes_root\\Trun95TestAppLeft",
                                 "Key Added Hkey_local_machine\\Software\\Trun95TestAppLeft",
                                 "Key Added Hkey_current_user\\Software\\Trun95TestAppLeft",
                                 "Key Added Hkey_users\\.Default\\Software\\Trun95TestAppLeft"})
        EXPECT_NE(std::find(texts.begin(), texts.end(), pszShown), texts.end()) << pszShown;
    for (const std::string& text : texts)
        EXPECT_EQ(text.find("Trun95TestApp\\"), std::string::npos) << text;

    for (DEACTION* pact : RegistryActions(kApp))
        EXPECT_EQ(pact->pfnUndo(pact), 1);
    SetExplorerUnload(0);
    for (const Place& place : kLeftovers)
        EXPECT_FALSE(TestKeyExists(place.hRoot, place.path)) << place.path;

    FreeActionList();
    FreeRegistrySnapshot(&pAfter);
    TakeRegistrySnapshot(&pAfter, host.status());
    CompareRegistrySnapshots(&pBefore, &pAfter, OnRegValueChange, OnRegKeyChange);
    EXPECT_EQ(RegistryActionTexts(kApp), Texts{});
}

} // namespace
