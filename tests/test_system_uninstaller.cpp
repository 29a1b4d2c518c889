// The offer of a setup's own uninstaller: which Uninstall entries are
// offered, what runs on "Yes", and when the session stops.
#include "actions/deaction.h"
#include "common/handles.h"
#include "files/lists.h"
#include "registry/snapshot.h"
#include "registry/uninstaller.h"
#include "resources/resource.h"
#include "session/session.h"
#include "support/dialog_script.h"
#include "support/file_session.h"
#include "support/hosted_test.h"
#include "support/prefix_files.h"
#include "support/test_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr char kCaption[] = "Program Uninstall Detected";
constexpr char kPressOk[] = "Press 'OK' when the uninstall is complete";
constexpr char kContinue[] = "Do you want to continue to run Tarnel's uninstaller to check for any "
                             "remaining system configuration changes?";
const std::string kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string kApp = "Trun95TestApp";
const std::string kEntry = kUninstall + "\\" + kApp;
const std::string kPlain = kUninstall + "\\Trun95TestPlain";
const std::string kOldApp = kUninstall + "\\Trun95TestOldApp";

std::string Offer(const std::string& name) {
    return "The installed program (" + name +
           ") supports the Windows 95 system uninstaller.  Do you wish to use its built-in "
           "uninstaller?";
}

// What the helper's own uninstaller leaves behind in this test.
const std::pair<HKEY, std::string> kLeftovers[] = {
    {HKEY_CLASSES_ROOT, "Trun95TestAppLeft"},
    {HKEY_LOCAL_MACHINE, "Software\\Trun95TestAppLeft"},
    {HKEY_CURRENT_USER, "Software\\Trun95TestAppLeft"},
    {HKEY_USERS, ".Default\\Software\\Trun95TestAppLeft"},
};

// Runs the helper setup with "setup" or "uninstall".
DWORD RegSetup(const char* pszVerb) {
    return RunProgram(BuildPath("trun95_regsetup.exe") + " " + pszVerb + " " + kApp);
}

// The helper's own uninstaller runs in a process of its own.
bool WaitUntilGone(HKEY hRoot, const std::string& path) {
    return WaitUntil([&] { return !TestKeyExists(hRoot, path); }, "the removal of " + path);
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
        pfnFootprintCompared = nullptr;
        post_setup_cleanup();
        HostedTest::TearDown();
        FreeRegistrySnapshot(&pBefore);
        FreeRegistrySnapshot(&pAfter);
        FreeActionList();
        RemoveAll();
    }
    static void RemoveAll() {
        RegSetup("uninstall");
        for (const std::string& path : {kOldApp, kPlain, "Software\\" + kApp})
            RemoveTestKey(HKEY_LOCAL_MACHINE, path);
        RemoveTestKey(HKEY_CURRENT_USER, kUninstall);
        for (const auto& [hRoot, path] : kLeftovers)
            RemoveTestKey(hRoot, path);
    }
    // The helper setup, with keys that its own uninstaller will leave behind
    // when fLeftovers is set.
    void RunSetup(bool fLeftovers = false) {
        ASSERT_EQ(RegSetup("setup"), 0u);
        ASSERT_TRUE(TestKeyExists(HKEY_LOCAL_MACHINE, kEntry));
        for (const auto& [hRoot, path] : kLeftovers) {
            if (fLeftovers)
                SetTestString(hRoot, path + "\\Below", "", "default");
        }
    }
    void Before() { TakeRegistrySnapshot(&pBefore, host.status()); }
    int Detect() {
        TakeRegistrySnapshot(&pAfter, host.status());
        return DetectSystemUninstaller(&pBefore, &pAfter);
    }
    REGTRE* pBefore = nullptr;
    REGTRE* pAfter = nullptr;
};

TEST_F(SystemUninstallerTest, NoNewUninstallEntryAsksNothing) {
    Before();
    SetTestString(HKEY_LOCAL_MACHINE, "Software\\" + kApp, "v", "1");
    EXPECT_EQ(Detect(), 0);
}

// Declining the offer starts nothing: the setup's keys stay.
TEST_F(SystemUninstallerTest, DeclinedOfferStartsNothing) {
    Before();
    RunSetup();
    robot.ExpectBox(kCaption, Offer(kApp), IDNO);
    EXPECT_EQ(Detect(), 0);
    EXPECT_FALSE(
        HoldsWithin([] { return !TestKeyExists(HKEY_CURRENT_USER, "Software\\" + kApp); }, 1500));
}

TEST_F(SystemUninstallerTest, StoppingAfterTheOwnUninstallerEndsTheSessionWithoutComparing) {
    // A session that went on would leave AlwaysUnloadDLL behind with "1".
    const std::string unload =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL";
    SavedKey saved(HKEY_LOCAL_MACHINE, unload);
    RemoveTestKey(HKEY_LOCAL_MACHINE, unload);
    ASSERT_EQ(pre_setup_save(host.hwnd(), host.status()), TRUE);
    RunSetup(true);
    robot.ExpectBox(kCaption, Offer(kApp), IDYES);
    robot.ExpectBox(kCaption, kPressOk, IDOK);
    robot.ExpectBox(kCaption, kContinue, IDNO);
    EXPECT_EQ(post_setup_uninstall(host.hwnd(), host.status()), 0);
    EXPECT_EQ(fInSession, 0);
    EXPECT_TRUE(WaitUntilGone(HKEY_LOCAL_MACHINE, kEntry));
    EXPECT_TRUE(WaitUntilGone(HKEY_CURRENT_USER, "Software\\" + kApp));
    // Nothing was compared or carried out: the leftovers are still there and
    // the shell's setting was never touched.
    EXPECT_TRUE(TestKeyExists(HKEY_CURRENT_USER, kLeftovers[2].second));
    EXPECT_FALSE(TestKeyExists(HKEY_LOCAL_MACHINE, unload));
}

// A new key below an existing entry is offered with its own name; "Yes" to
// an entry without a command runs and asks nothing more.
TEST_F(SystemUninstallerTest, NewEntriesAreOfferedByTheirOwnNameInListOrder) {
    SetTestString(HKEY_LOCAL_MACHINE, kOldApp, "DisplayName", "Old");
    Before();
    SetTestString(HKEY_LOCAL_MACHINE, kOldApp + "\\Patch1", "DisplayName", "Patch");
    SetTestString(HKEY_LOCAL_MACHINE, kPlain, "DisplayName", "Plain");
    robot.ExpectBox(kCaption, Offer("Patch1"), IDNO);
    robot.ExpectBox(kCaption, Offer("Trun95TestPlain"), IDYES);
    EXPECT_EQ(Detect(), 0);
}

TEST_F(SystemUninstallerTest, LaterDeclinedOfferTurnsAStopBackIntoGoingOn) {
    Before();
    RunSetup();
    SetTestString(HKEY_LOCAL_MACHINE, kPlain, "DisplayName", "Plain");
    robot.ExpectBox(kCaption, Offer(kApp), IDYES);
    robot.ExpectBox(kCaption, kPressOk, IDOK);
    robot.ExpectBox(kCaption, kContinue, IDNO);
    robot.ExpectBox(kCaption, Offer("Trun95TestPlain"), IDNO);
    EXPECT_EQ(Detect(), 0);
}

// A setup that needs no administrator registers its uninstaller under
// HKEY_CURRENT_USER, often making the user's Uninstall key itself.
TEST_F(SystemUninstallerTest, UserEntriesAreOfferedAfterTheMachinesAlsoFromANewUninstallKey) {
    Before();
    SetTestString(HKEY_CURRENT_USER, kUninstall + "\\Trun95TestUser", "DisplayName", "User");
    SetTestString(HKEY_LOCAL_MACHINE, kPlain, "DisplayName", "Plain");
    robot.ExpectBox(kCaption, Offer("Trun95TestPlain"), IDNO);
    robot.ExpectBox(kCaption, Offer("Trun95TestUser"), IDNO);
    EXPECT_EQ(Detect(), 0);
}

// What the footprint hook saw: the actions and cautions on offer, and the
// new Uninstall entries as "name=command".
std::vector<std::string> footprint;
// A system file that setup deletes and the hook, standing in for an own
// uninstaller, puts back as it was.
std::string goneFile;
WIN32_FILE_ATTRIBUTE_DATA goneData;

std::vector<std::string> OfferedTexts() {
    std::vector<std::string> texts = ActiveNames(Cautions);
    for (const ActionView& action : OfferedActions())
        texts.push_back(action.description);
    return texts;
}

void RecordFootprintThenUndoSetup() {
    footprint = OfferedTexts();
    ListNewUninstallers(&RegBefore, &RegAfter, [](const char* pszEntry, const char* pszCommand) {
        footprint.push_back(std::string(pszEntry) + "=" + pszCommand);
    });
    RemoveTestKey(HKEY_LOCAL_MACHINE, kEntry);
    WriteTextFile(goneFile, "gone");
    FileHandle file(
        CreateFileA(goneFile.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    SetFileTime(file.get(), nullptr, nullptr, &goneData.ftLastWriteTime);
}

// The check run's footprint is taken after setup's changes are compared and
// before the own uninstaller is offered; the session then compares afresh
// from the monitor's lists, so what the uninstaller undid (here: the hook)
// is neither offered nor named in a caution any more.
TEST_F(SystemUninstallerTest, FootprintIsTakenBeforeTheOwnUninstallerAndComparedAfreshAfter) {
    char szSystem[MAX_PATH];
    GetSystemDirectoryA(szSystem, sizeof szSystem);
    goneFile = std::string(szSystem) + "\\trun95-gone.dll";
    WriteTextFile(goneFile, "gone");
    ASSERT_TRUE(GetFileAttributesExA(goneFile.c_str(), GetFileExInfoStandard, &goneData));
    ASSERT_EQ(pre_setup_save(host.hwnd(), host.status()), TRUE);
    RunSetup();
    ASSERT_TRUE(DeleteFileA(goneFile.c_str()));
    char szCommand[MAX_PATH] = "";
    DWORD cb = sizeof szCommand;
    RegGetValueA(HKEY_LOCAL_MACHINE, kEntry.c_str(), "UninstallString", RRF_RT_REG_SZ, nullptr,
                 szCommand, &cb);
    pfnFootprintCompared = RecordFootprintThenUndoSetup;
    robot.ExpectBox(kCaption, Offer(kApp), IDNO);
    EXPECT_TRUE(BuildUndoActions(host.status(), true));
    std::vector<std::string> after = OfferedTexts();
    EndPostSetup();
    DeleteFileA(goneFile.c_str());

    const std::vector<std::string> undone = {"Key Added Hkey_local_machine\\" + kEntry,
                                             "File \"" + LowerText(goneFile) + "\" was deleted",
                                             kApp + "=" + szCommand};
    for (const std::string& text : undone) {
        EXPECT_EQ(std::count(footprint.begin(), footprint.end(), text), 1) << text;
        EXPECT_EQ(std::count(after.begin(), after.end(), text), 0) << text;
    }
    std::string kept = "Key Added Hkey_current_user\\Software\\" + kApp;
    EXPECT_EQ(std::count(after.begin(), after.end(), kept), 1);
}

// Search of a key path in a tree built in memory: whole names in any letter
// case, and only below the first child that matches.
TEST(FindRegistryKeyTest, FindsWholeNamesInAnyCaseBelowTheFirstMatchOnly) {
    RTREE* pRoot = NewRegistryNode();
    AddTestChild(pRoot, "Micro");
    RTREE* pWindows = AddTestChild(AddTestChild(pRoot, "MICROSOFT"), "WINDOWS");
    RTREE* pUninstall = AddTestChild(AddTestChild(pWindows, "CURRENTVERSION"), "UNINSTALL");
    RTREE* pFirst = AddTestChild(pRoot, "Vendor");
    AddTestChild(pFirst, "Other");
    AddTestChild(AddTestChild(pRoot, "VENDOR"), "Product");
    auto find = [&](const char* pszPath) {
        char szBuffer[cbRegPath] = "";
        return FindRegistryKey(pRoot, pszPath, szBuffer);
    };
    EXPECT_EQ(find("\\Microsoft\\Windows\\CurrentVersion\\Uninstall"), pUninstall);
    EXPECT_EQ(find("\\Microsoft\\Windows"), pWindows);
    EXPECT_EQ(find("\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Missing"), nullptr);
    EXPECT_EQ(find("\\Microsoft\\Win"), nullptr);
    EXPECT_EQ(find("\\Vendor"), pFirst);
    EXPECT_EQ(find("\\Vendor\\Product"), nullptr);
    FreeRegistryNode(pRoot, 1);
}

} // namespace
