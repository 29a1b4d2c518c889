// String-table texts, message boxes and the busy state, window placement.
#include "common/util.h"
#include "files/lists.h"
#include "resources/resource.h"
#include "session/session.h"
#include "support/hosted_test.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

class ResourceStringTest : public testing::Test {};

TEST_F(ResourceStringTest, FourthLoadOverwritesTheFirstBuffer) {
    char* pszFirst = GetResString(IDS_INITIALIZING);
    char* pszSecond = GetResString(IDS_BACKING_UP);
    char* pszThird = GetResString(IDS_READY);
    EXPECT_STREQ(pszFirst, "Initializing...");
    EXPECT_STREQ(pszSecond, "Backing up files...");
    EXPECT_STREQ(pszThird, "Ready");
    char* pszFourth = GetResString(IDS_DONE);
    EXPECT_EQ(pszFourth, pszFirst);
    EXPECT_STREQ(pszFirst, "Done");
}

TEST_F(ResourceStringTest, ContinuedEntriesJoinAndAbsentOnesAreEmpty) {
    EXPECT_STREQ(GetResString(9000), "abcdef");
    EXPECT_STREQ(GetResString(9010), "abc");
    EXPECT_STREQ(GetResString(9999), "");
    EXPECT_STREQ(GetResString(IDS_EMPTY_REASON_202), "");
}

// Texts with quotes, line breaks and backslashes are checked where they are
// shown; this one is shown only when a group cannot be removed.
TEST_F(ResourceStringTest, EscapedQuotesSurviveTheResourceCompiler) {
    EXPECT_STREQ(GetResString(IDS_CANNOT_REMOVE_GROUP),
                 "ERROR Removing GROUP.  Use the \"Settings->Taskbar\" utility from the Start "
                 "Menu to Remove it manually.");
}

TEST_F(ResourceStringTest, CopyOfNothingIsAnEmptyText) {
    char* pszCopy = DupString(nullptr);
    EXPECT_STREQ(pszCopy, "");
    std::free(pszCopy);
    pszCopy = DupString("Acme");
    EXPECT_STREQ(pszCopy, "Acme");
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

TEST_F(BusyStateTest, CautionsAreKeptOnceInSortedOrder) {
    AddCaution("File \"%s\" was deleted", "c:\\windows\\b.dll");
    AddCaution("File \"%s\" was altered", "c:\\windows\\a.dll");
    AddCaution("File \"%s\" was deleted", "c:\\windows\\b.dll");
    ASSERT_NE(Cautions, nullptr);
    EXPECT_STREQ(Cautions->szName, "File \"c:\\windows\\a.dll\" was altered");
    ASSERT_NE(Cautions->pNext, nullptr);
    EXPECT_STREQ(Cautions->pNext->szName, "File \"c:\\windows\\b.dll\" was deleted");
    EXPECT_EQ(Cautions->pNext->pNext, nullptr);
    FreeNameList(&Cautions);
}

// Dialogs are popups owned by their parent window, placed in screen
// coordinates.
class CenterWindowTest : public testing::Test {
  protected:
    static RECT Placed(HWND hwnd) {
        RECT rc;
        GetWindowRect(hwnd, &rc);
        return rc;
    }
};

TEST_F(CenterWindowTest, WindowWiderThanTheScreenStartsAtTheLeftEdge) {
    int cxScreen = GetSystemMetrics(SM_CXSCREEN);
    HWND hwnd = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, cxScreen + 200, 100, nullptr, nullptr,
                              nullptr, nullptr);
    CenterWindow(hwnd);
    EXPECT_EQ(Placed(hwnd).left, 0);
    DestroyWindow(hwnd);
}

TEST_F(CenterWindowTest, WindowOverASmallParentInTheCornerNeverGoesNegative) {
    HWND hwndParentWindow =
        CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 100, 80, nullptr, nullptr, nullptr, nullptr);
    HWND hwnd = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 300, 200, hwndParentWindow, nullptr,
                              nullptr, nullptr);
    CenterWindow(hwnd);
    RECT rc = Placed(hwnd);
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.top, 0);
    DestroyWindow(hwndParentWindow);
}

TEST_F(CenterWindowTest, WindowIsCentredOverItsParent) {
    HWND hwndParentWindow = CreateWindowA("STATIC", "", WS_POPUP, 100, 100, 400, 300, nullptr,
                                          nullptr, nullptr, nullptr);
    HWND hwnd = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 200, 100, hwndParentWindow, nullptr,
                              nullptr, nullptr);
    CenterWindow(hwnd);
    RECT rc = Placed(hwnd);
    RECT rcParent = Placed(hwndParentWindow);
    EXPECT_EQ(rc.left - rcParent.left, 100) << rc.left;
    EXPECT_EQ(rc.top - rcParent.top, 100) << rc.top;
    DestroyWindow(hwndParentWindow);
}

} // namespace
