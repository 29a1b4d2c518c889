// The offer of a setup's own uninstaller: which Uninstall entries are
// offered, what runs on "Yes", and when the session stops.
#include "actions/deaction.h"
#include "registry/registry.h"
#include "common/util.h"
#include "session/guard.h"
#include "session/session.h"
#include "support/hosted_test.h"
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
const std::string kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string kApp = "Trun95TestApp";
const std::string kUnload =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL";
const std::string kOldApp = "Trun95TestOldApp";

std::string Offer(const std::string& name) {
    return "The installed program (" + name +
           ") supports the Windows 95 system uninstaller.  Do you wish to use its built-in "
           "uninstaller?";
}

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

// The helper setup's command line for "setup" or "uninstall".
std::string RegSetupCommand(const char* pszVerb) {
    std::string command(1, '"');
    command.append(BuildPath("trun95_regsetup.exe")).append("\" ").append(pszVerb);
    return command.append(" ").append(kApp);
}

// Waits until the helper's own uninstaller has removed its keys.
bool WaitUntilGone(HKEY hRoot, const std::string& path) {
    for (int i = 0; i < 150; ++i) {
        if (!TestKeyExists(hRoot, path))
            return true;
        Sleep(100);
    }
    return false;
}

class SystemUninstallerTest : public HostedTest {
  protected:
    void SetUp() override {
        HostedTest::SetUp();
        LoadRegistryStrings();
        FreeActionList();
        RemoveAll();
    }
    void TearDown() override {
        post_setup_cleanup();
        HostedTest::TearDown();
        FreeRegistrySnapshot(&pBefore);
        FreeRegistrySnapshot(&pAfter);
        FreeActionList();
        RemoveAll();
    }
    static void RemoveAll() {
        RunProgram(RegSetupCommand("uninstall"));
        RemoveTestKey(HKEY_LOCAL_MACHINE, kUninstall + "\\" + kOldApp);
        RemoveTestKey(HKEY_LOCAL_MACHINE, kUninstall + "\\Trun95TestPlain");
        for (const Place& place : kLeftovers)
            RemoveTestKey(place.hRoot, place.path);
    }
    // The helper setup, plus keys that its own uninstaller will leave behind.
    void RunSetupWithLeftovers() {
        RunSetup();
        for (const Place& place : kLeftovers) {
            SetTestString(place.hRoot, place.path, "Left", "behind");
            SetTestString(place.hRoot, place.path + "\\Below", "", "default");
        }
    }
    void RunSetup() {
        ASSERT_EQ(RunProgram(RegSetupCommand("setup")), 0u);
        ASSERT_TRUE(TestKeyExists(HKEY_LOCAL_MACHINE, kUninstall + "\\" + kApp));
    }
    void Before() { TakeSoftwareSnapshot(&pBefore, host.status()); }
    int Detect() {
        TakeSoftwareSnapshot(&pAfter, host.status());
        return DetectSystemUninstaller(&pBefore, &pAfter);
    }
    REGTRE* pBefore = nullptr;
    REGTRE* pAfter = nullptr;
};

TEST_F(SystemUninstallerTest, NoNewUninstallEntryAsksNothing) {
    Before();
    SetTestString(HKEY_LOCAL_MACHINE, "Software\\" + kApp, "v", "1");
    EXPECT_EQ(Detect(), 0);
    RemoveTestKey(HKEY_LOCAL_MACHINE, "Software\\" + kApp);
}

TEST_F(SystemUninstallerTest, DeclinedOfferStartsNothingAndGoesOn) {
    Before();
    RunSetup();
    robot.ExpectBox(kCaption, Offer(kApp), IDNO);
    EXPECT_EQ(Detect(), 0);
    Sleep(1000);
    EXPECT_TRUE(TestKeyExists(HKEY_LOCAL_MACHINE, kUninstall + "\\" + kApp));
    EXPECT_TRUE(TestKeyExists(HKEY_CURRENT_USER, "Software\\" + kApp));
}

TEST_F(SystemUninstallerTest, AcceptedOfferRunsTheOwnUninstallerAndStopsOnNo) {
    Before();
    RunSetup();
    robot.ExpectBox(kCaption, Offer(kApp), IDYES);
    robot.ExpectBox(kCaption, kPressOk, IDOK);
    robot.ExpectBox(kCaption, kContinue, IDNO);
    EXPECT_EQ(Detect(), 1);
    EXPECT_TRUE(WaitUntilGone(HKEY_LOCAL_MACHINE, kUninstall + "\\" + kApp));
    EXPECT_TRUE(WaitUntilGone(HKEY_CURRENT_USER, "Software\\" + kApp));
}

TEST_F(SystemUninstallerTest, GoingOnAfterTheOwnUninstallerYieldsActionsThatPutTheRestBack) {
    TakeRegistrySnapshot(&pBefore, host.status());
    RunSetupWithLeftovers();

    robot.ExpectBox(kCaption, Offer(kApp), IDYES);
    robot.ExpectBox(kCaption, kPressOk, IDOK);
    robot.ExpectBox(kCaption, kContinue, IDYES);
    ASSERT_EQ(Detect(), 0);
    ASSERT_TRUE(WaitUntilGone(HKEY_LOCAL_MACHINE, kUninstall + "\\" + kApp));
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

TEST_F(SystemUninstallerTest, StoppingAfterTheOwnUninstallerEndsTheSessionWithoutComparing) {
    // A session that went on would leave AlwaysUnloadDLL behind with "1".
    bool fUnloadExisted = TestKeyExists(HKEY_LOCAL_MACHINE, kUnload);
    std::vector<LiveValue> unloadBefore = ReadLiveValues(HKEY_LOCAL_MACHINE, kUnload);
    RemoveTestKey(HKEY_LOCAL_MACHINE, kUnload);
    ASSERT_EQ(pre_setup_save(host.hwnd(), host.status()), TRUE);
    RunSetupWithLeftovers();
    robot.ExpectBox(kCaption, Offer(kApp), IDYES);
    robot.ExpectBox(kCaption, kPressOk, IDOK);
    robot.ExpectBox(kCaption, kContinue, IDNO);
    EXPECT_EQ(post_setup_uninstall(host.hwnd(), host.status()), 0);
    EXPECT_EQ(fInSession, 0);
    EXPECT_TRUE(WaitUntilGone(HKEY_LOCAL_MACHINE, kUninstall + "\\" + kApp));
    // Nothing was compared or carried out: the leftovers are still there and
    // the shell's setting was never touched.
    EXPECT_TRUE(TestKeyExists(HKEY_CURRENT_USER, kLeftovers[2].path));
    EXPECT_FALSE(TestKeyExists(HKEY_LOCAL_MACHINE, kUnload));
    if (fUnloadExisted)
        CreateTestKey(HKEY_LOCAL_MACHINE, kUnload);
    for (const LiveValue& value : unloadBefore)
        SetTestValue(HKEY_LOCAL_MACHINE, kUnload, value.name, value.dwType, value.bytes.data(),
                     static_cast<DWORD>(value.bytes.size()));
}

TEST_F(SystemUninstallerTest, EntryWithoutCommandAsksNoMoreAfterYes) {
    Before();
    SetTestString(HKEY_LOCAL_MACHINE, kUninstall + "\\Trun95TestPlain", "DisplayName", "Plain");
    robot.ExpectBox(kCaption, Offer("Trun95TestPlain"), IDYES);
    EXPECT_EQ(Detect(), 0);
}

TEST_F(SystemUninstallerTest, NewKeyBelowAnExistingEntryIsOfferedWithItsOwnName) {
    SetTestString(HKEY_LOCAL_MACHINE, kUninstall + "\\" + kOldApp, "DisplayName", "Old");
    Before();
    SetTestString(HKEY_LOCAL_MACHINE, kUninstall + "\\" + kOldApp + "\\Patch1", "DisplayName",
                  "Patch");
    robot.ExpectBox(kCaption, Offer("Patch1"), IDNO);
    EXPECT_EQ(Detect(), 0);
}

TEST_F(SystemUninstallerTest, LaterDeclinedOfferTurnsAStopBackIntoGoingOn) {
    Before();
    RunSetup();
    SetTestString(HKEY_LOCAL_MACHINE, kUninstall + "\\Trun95TestPlain", "DisplayName", "Plain");
    robot.ExpectBox(kCaption, Offer(kApp), IDYES);
    robot.ExpectBox(kCaption, kPressOk, IDOK);
    robot.ExpectBox(kCaption, kContinue, IDNO);
    robot.ExpectBox(kCaption, Offer("Trun95TestPlain"), IDNO);
    EXPECT_EQ(Detect(), 0);
}

// Search of a key path in a tree built in memory.
class FindRegistryKeyTest : public HostedTest {
  protected:
    void TearDown() override {
        FreeRegistryNode(pRoot, 1);
        HostedTest::TearDown();
    }
    RTREE* Find(const char* pszPath) {
        char szBuffer[cbRegPath] = "";
        return FindRegistryKey(pRoot, pszPath, szBuffer);
    }
    RTREE* pRoot = NewRegistryNode();
};

TEST_F(FindRegistryKeyTest, ComponentsMatchWholeNamesInAnyLetterCase) {
    AddTestChild(pRoot, "Micro");
    RTREE* pMicrosoft = AddTestChild(pRoot, "MICROSOFT");
    RTREE* pWindows = AddTestChild(pMicrosoft, "WINDOWS");
    RTREE* pVersion = AddTestChild(pWindows, "CURRENTVERSION");
    RTREE* pUninstall = AddTestChild(pVersion, "UNINSTALL");
    EXPECT_EQ(Find("\\Microsoft\\Windows\\CurrentVersion\\Uninstall"), pUninstall);
    EXPECT_EQ(Find("\\Microsoft\\Windows"), pWindows);
    EXPECT_EQ(Find("\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Missing"), nullptr);
    EXPECT_EQ(Find("\\Microsoft\\Win"), nullptr);
}

TEST_F(FindRegistryKeyTest, SearchStaysOnTheFirstMatchingChild) {
    RTREE* pFirst = AddTestChild(pRoot, "Vendor");
    AddTestChild(pFirst, "Other");
    RTREE* pSecond = AddTestChild(pRoot, "VENDOR");
    AddTestChild(pSecond, "Product");
    EXPECT_EQ(Find("\\Vendor\\Product"), nullptr);
    EXPECT_EQ(Find("\\Vendor"), pFirst);
}

} // namespace
