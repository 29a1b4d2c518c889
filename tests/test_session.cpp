// One session from pre_setup_save to post_setup_cleanup, the standalone
// dialog, and the checks that keep a second session from starting.
#include "common/paths.h"
#include "session/session.h"
#include "support/dialog_script.h"
#include "support/test_host_window.h"
#include "support/prefix_files.h"
#include "support/robot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

constexpr char kTitle[] = "Tarnel Uninstaller";
constexpr char kNothingToUninstall[] =
    "No configuration changes detected.\nThere is nothing to uninstall.";

// Restores an environment variable when the test ends.
class SavedVariable {
  public:
    explicit SavedVariable(const char* pszName) : name_(pszName) {
        char szValue[MAX_PATH];
        fSet_ = GetEnvironmentVariableA(pszName, szValue, sizeof szValue) > 0;
        value_ = fSet_ ? szValue : "";
    }
    ~SavedVariable() { SetEnvironmentVariableA(name_.c_str(), fSet_ ? value_.c_str() : nullptr); }

  private:
    std::string name_, value_;
    bool fSet_;
};

class SessionTest : public testing::Test {
  protected:
    void TearDown() override {
        post_setup_cleanup();
        robot.Finish();
        ASSERT_EQ(fInSession, 0);
        ASSERT_EQ(already_running(), 0);
    }
    HostWindow host;
    Robot robot;
};

TEST_F(SessionTest, VersionIsOkOnlyInTheWindows95Family) {
    EXPECT_EQ(is_version_ok(), 1);
    // Another process told by Wine that it runs on Windows XP sees NT.
    HKEY hKey;
    ASSERT_EQ(
        RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\trun95_probe.exe", &hKey),
        ERROR_SUCCESS);
    RegSetValueExA(hKey, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("winxp"), 6);
    RegCloseKey(hKey);
    DWORD dwUnderXp = RunProgram(BuildPath("trun95_probe.exe") + " version");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\trun95_probe.exe");
    EXPECT_EQ(dwUnderXp, 0u);
    EXPECT_EQ(RunProgram(BuildPath("trun95_probe.exe") + " version"), 1u);
}

TEST_F(SessionTest, SessionRunsToItsEndInBusyPairsRefusingASecondAndLeavesTheLibraryIdle) {
    ASSERT_EQ(pre_setup_save(host.hwnd(), host.status()), TRUE);
    EXPECT_EQ(fInSession, 1);
    EXPECT_EQ(already_running(), 1);
    EXPECT_EQ(RunProgram(BuildPath("trun95_probe.exe") + " running"), 1u);
    EXPECT_EQ(WindowText(host.status()), "Ready");
    std::string tempDir = szTempDir;
    std::string base = szTempBase;
    EXPECT_EQ(tempDir.rfind(base + "tr", 0), 0u) << tempDir;
    EXPECT_TRUE(std::all_of(tempDir.begin() + base.size() + 2, tempDir.end(),
                            [](char ch) { return isxdigit(ch) && !isupper(ch); }));
    EXPECT_TRUE(Exists(tempDir));

    // A second session is refused while this one runs.
    EXPECT_EQ(pre_setup_save(host.hwnd(), host.status()), FALSE);
    robot.ExpectBox(kTitle, "Already running Uninstall", IDOK);
    uninstall_standalone();
    EXPECT_EQ(fInSession, 1);

    robot.ExpectBox(kTitle, kNothingToUninstall, IDOK);
    EXPECT_EQ(post_setup_uninstall(host.hwnd(), host.status()), 0);
    EXPECT_EQ(fInSession, 0);
    EXPECT_EQ(already_running(), 0);
    EXPECT_FALSE(Exists(tempDir));
    // A folder that takes the name later is not the session's to empty.
    EXPECT_STREQ(szTempDir, "");
    const std::vector<UINT>& busy = host.notifications();
    ASSERT_FALSE(busy.empty());
    ASSERT_EQ(busy.size() % 2, 0u);
    for (size_t i = 0; i < busy.size(); ++i)
        EXPECT_EQ(busy[i], i % 2 == 0 ? 8026u : 8027u) << "notification " << i;
}

TEST_F(SessionTest, GoneOrNullWindowsAreRefusedAndCleanupWithoutSessionTouchesNothing) {
    HWND hwndGone = CreateWindowA("STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(hwndGone);
    EXPECT_EQ(pre_setup_save(host.hwnd(), hwndGone), FALSE);
    EXPECT_EQ(pre_setup_save(hwndGone, host.status()), FALSE);
    // Each report of a null window posts a quit message for the host's loop;
    // a box shown while it waits would close at once, so take it after each.
    MSG msg;
    robot.ExpectBoxStartingWith(kTitle, "Internal Error in Deinst line ", IDOK);
    EXPECT_EQ(pre_setup_save(nullptr, host.status()), FALSE);
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    robot.ExpectBoxStartingWith(kTitle, "Internal Error in Deinst line ", IDOK);
    EXPECT_EQ(pre_setup_save(host.hwnd(), nullptr), FALSE);
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(fInSession, 0);
    EXPECT_EQ(already_running(), 0);
    post_setup_cleanup();
    EXPECT_TRUE(host.notifications().empty());
}

TEST_F(SessionTest, TemporaryFolderThatCannotBeMadeEndsTheStartQuietly) {
    SavedVariable zavuv("ZAVUV"), tmp("TMP");
    SetEnvironmentVariableA("ZAVUV", nullptr);
    SetEnvironmentVariableA("TMP", "Q:\\no-such-drive");
    robot.ExpectBox(kTitle, "Could not create temporary folder to backup files", IDOK);
    EXPECT_EQ(pre_setup_save(host.hwnd(), host.status()), FALSE);
    EXPECT_EQ(fInSession, 0);
    EXPECT_EQ(already_running(), 0);
    EXPECT_STREQ(szTempDir, "");
}

// Dialog 300 enables its buttons again once pre_setup_save has returned;
// the robot thread waits for that before it presses one.
bool WaitForStandaloneReady(HWND hDlg) {
    return WaitUntil([&] { return IsWindowEnabled(GetDlgItem(hDlg, IDOK)) != FALSE; },
                     "the standalone dialog's OK button",
                     120000); // the first snapshot takes long on a busy machine
}

TEST_F(SessionTest, StandaloneDialogAbandonsTheSessionOnCancelAndRunsItOnOk) {
    robot.ExpectDialog(kTitle, [&](HWND hDlg) {
        WaitForStandaloneReady(hDlg);
        PostMessageA(hDlg, WM_COMMAND, IDCANCEL, 0);
    });
    uninstall_standalone();
    EXPECT_EQ(fInSession, 0);
    EXPECT_EQ(already_running(), 0);

    SetCurrentDirectoryA("C:\\windows");
    std::string statusWhenReady;
    robot.ExpectDialog(kTitle, [&](HWND hDlg) {
        if (WaitForStandaloneReady(hDlg))
            statusWhenReady = WindowText(GetDlgItem(hDlg, 301));
        PostMessageA(hDlg, WM_COMMAND, IDOK, 0);
    });
    robot.ExpectBox(kTitle, kNothingToUninstall, IDOK);
    uninstall_standalone();
    EXPECT_EQ(statusWhenReady, "Ready");
    char szFolder[MAX_PATH];
    GetCurrentDirectoryA(sizeof szFolder, szFolder);
    EXPECT_STREQ(szFolder, "C:\\windows");
    EXPECT_EQ(fInSession, 0);
}

} // namespace
