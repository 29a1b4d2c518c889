// String-table texts, message boxes and the busy state, window placement.
#include "common/strings.h"
#include "common/status.h"
#include "common/boxes.h"
#include "resources/resource.h"
#include "support/hosted_test.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Texts with quotes, line breaks and backslashes are checked where they are
// shown; the group one is shown only when a group cannot be removed.
TEST(ResourceStringTest, LoadedTextsStayValidTogetherEntriesJoinAndAbsentTextsAreEmpty) {
    char* pszFirst = GetResString(IDS_INITIALIZING);
    char* pszSecond = GetResString(IDS_BACKING_UP);
    EXPECT_STREQ(GetResString(IDS_READY), "Ready");
    EXPECT_STREQ(pszFirst, "Initializing...");
    EXPECT_STREQ(pszSecond, "Backing up files...");
    EXPECT_STREQ(GetResString(9000), "abcdef");
    EXPECT_STREQ(GetResString(9010), "abc");
    EXPECT_STREQ(GetResString(9999), "");
    EXPECT_STREQ(GetResString(IDS_EMPTY_REASON_202), "");
    EXPECT_STREQ(GetResString(IDS_CANNOT_REMOVE_GROUP),
                 "ERROR Removing GROUP.  Use the \"Settings->Taskbar\" utility from the Start "
                 "Menu to Remove it manually.");
    // A copy of no text is an empty text too.
    char* pszCopy = DupString(nullptr);
    EXPECT_STREQ(pszCopy, "");
    std::free(pszCopy);
}

class BusyStateTest : public HostedTest {
  protected:
    void TearDown() override {
        EndBusy();
        HostedTest::TearDown();
    }
};

TEST_F(BusyStateTest, SecondBeginSendsNothingAndEndSendsOnce) {
    BeginBusy();
    BeginBusy();
    EXPECT_TRUE(IsBusy());
    EndBusy();
    EndBusy();
    EXPECT_EQ(host.notifications(), (std::vector<UINT>{8026, 8027}));
}

TEST_F(BusyStateTest, MessageBoxEndsTheBusyStateAndDoesNotRestoreIt) {
    BeginBusy();
    robot.ExpectBox("Tarnel Uninstaller", "Could not delete file C:\\x", IDOK);
    EXPECT_EQ(MessageBoxFmt("Could not delete file %s", "C:\\x"), IDOK);
    EXPECT_FALSE(IsBusy());
    EXPECT_EQ(host.notifications(), (std::vector<UINT>{8026, 8027}));
}

HWND Popup(int x, int y, int cx, int cy, HWND hwndOwner = nullptr) {
    return CreateWindowA("STATIC", "", WS_POPUP, x, y, cx, cy, hwndOwner, nullptr, nullptr,
                         nullptr);
}

// Centres a new popup of the given size over its owner; where it ends up.
RECT Centred(HWND hwndOwner, int cx, int cy) {
    HWND hwnd = Popup(0, 0, cx, cy, hwndOwner);
    CenterWindow(hwnd);
    RECT rc;
    GetWindowRect(hwnd, &rc);
    DestroyWindow(hwnd);
    return rc;
}

// Dialogs are popups owned by their parent window, placed in screen
// coordinates: centred over the parent, but never off the screen's top left.
TEST(CenterWindowTest, WindowIsCentredOverItsParentButNeverStartsOffTheScreen) {
    HWND hwndOwner = Popup(100, 100, 400, 300);
    RECT rc = Centred(hwndOwner, 200, 100);
    EXPECT_EQ(rc.left, 200);
    EXPECT_EQ(rc.top, 200);
    DestroyWindow(hwndOwner);
    hwndOwner = Popup(0, 0, 100, 80);
    rc = Centred(hwndOwner, 300, 200);
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.top, 0);
    DestroyWindow(hwndOwner);
    EXPECT_EQ(Centred(nullptr, GetSystemMetrics(SM_CXSCREEN) + 200, 100).left, 0);
}

} // namespace
