// Guards catch every failure of their stretch: the library's codes, processor
// faults and structured exceptions; "No" in the internal-exception box
// travels to the next enclosing guard.
#include "common/handles.h"
#include "common/pathsearch.h"
#include "dialog/dedlg.h"
#include "common/state_reset.h"
#include "common/boxes.h"
#include "common/paths.h"
#include "common/guard.h"
#include "common/internal_error.h"
#include "common/library.h"
#include "support/hosted_test.h"
#include "support/prefix_files.h"

#include <gtest/gtest.h>

namespace {

constexpr char kTitle[] = "Tarnel Uninstaller";

class GuardTest : public HostedTest {};

// Read at run time, so the compiler cannot see the write is to nowhere.
volatile uintptr_t uBadAddress = 0;

__attribute__((noinline)) void WriteThroughNull() {
    *reinterpret_cast<volatile int*>(uBadAddress) = 1;
}

// Many in a row: the handler must be put back after each fault.
TEST_F(GuardTest, EveryProcessorFaultReachesItsGuardAndEndsItsStretch) {
    int cCaught = 0, cAfterFault = 0;
    for (int i = 0; i < 2000; ++i) {
        DWORD dwCode = 0;
        bool fFinished = Guarded(
            [&] {
                WriteThroughNull();
                ++cAfterFault;
            },
            &dwCode);
        if (!fFinished && dwCode == static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION))
            ++cCaught;
    }
    EXPECT_EQ(cCaught, 2000);
    EXPECT_EQ(cAfterFault, 0);
}

bool IsOpenKey(HKEY hKey) {
    return RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) != ERROR_INVALID_HANDLE;
}

HKEY OpenSoftwareKey() {
    HKEY hKey = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &hKey), ERROR_SUCCESS);
    return hKey;
}

// A fault runs no destructor: the guard itself closes the listing and the
// handles opened in its stretch and ends the carrying out, so a path deleted
// afterwards is not reported as still there and Uninstall works again. A new
// session closes what is still open from before.
TEST_F(GuardTest, FaultAndNewSessionLeaveNoListingHandleOrCarryingOutBehind) {
    ScratchFolder scratch{"guards"};
    std::string path = scratch / "gone.txt";
    WriteTextFile(path, "x");
    size_t cOpenBefore = CountOpenHandles();
    HKEY hKey = nullptr;
    EXPECT_FALSE(Guarded([&] {
        SearchScope searches;
        PathExists(path.c_str());
        RegistryKey key(OpenSoftwareKey());
        WIN32_FIND_DATAA data;
        FolderSearch search = OpenFolderSearch((scratch / "*").c_str(), &data);
        hKey = key.get();
        fCarryingOut = true;
        WriteThroughNull();
    }));
    EXPECT_FALSE(fCarryingOut);
    EXPECT_EQ(CountOpenHandles(), cOpenBefore);
    EXPECT_FALSE(IsOpenKey(hKey));
    DeleteFileA(path.c_str());
    EXPECT_EQ(PathExists(path.c_str()), 0);

    RegistryKey leftOpen(OpenSoftwareKey());
    ForgetAbandonedState();
    EXPECT_EQ(CountOpenHandles(), 0u);
    EXPECT_FALSE(IsOpenKey(leftOpen.get()));
}

TEST_F(GuardTest, RaisedStructuredExceptionAndSessionCodeReachTheGuard) {
    DWORD dwCode = 0;
    EXPECT_FALSE(Guarded([] { RaiseException(0xE0001234, 0, 0, nullptr); }, &dwCode));
    EXPECT_EQ(dwCode, 0xE0001234u);
    EXPECT_FALSE(Guarded([] { RaiseSessionException(EXC_BACKUP); }, &dwCode));
    EXPECT_EQ(dwCode, static_cast<DWORD>(EXC_BACKUP));
    EXPECT_TRUE(Guarded([] {}, &dwCode));
}

TEST_F(GuardTest, YesInTheExceptionBoxGoesOnAfterTheGuardAndNoTravelsToTheNextGuard) {
    robot.ExpectBoxStartingWith(
        kTitle, "Tarnel Uninstaller has detected internal exception 3 in File", IDYES);
    robot.ExpectBox(kTitle,
                    "Tarnel Uninstaller has detected internal exception 2 in Deinst line 77\n\n"
                    "PLEASE REPORT THIS BETA-TEST FAULT TO TRUN95-BETA@TARNEL.EXAMPLE\n\n"
                    "Press 'YES' to continue executing or 'NO' to quit",
                    IDNO);
    bool fAfterYes = false;
    EXPECT_TRUE(Guarded([&] {
        if (!Guarded([] { RaiseSessionException(EXC_INTERNAL); }))
            ReportInternalException("File", 3, 12);
        fAfterYes = true;
    }));
    DWORD dwOuterCode = 0;
    bool fAfterNo = false;
    EXPECT_FALSE(Guarded(
        [&] {
            if (!Guarded([] { WriteThroughNull(); }))
                ReportInternalException("Deinst", 2, 77);
            fAfterNo = true;
        },
        &dwOuterCode));
    EXPECT_TRUE(fAfterYes);
    EXPECT_FALSE(fAfterNo);
    EXPECT_EQ(dwOuterCode, static_cast<DWORD>(EXC_USER_QUIT));
}

TEST_F(GuardTest, FatalErrorsShowTheirBoxThenRaiseTheirCode) {
    robot.ExpectBox(kTitle, "Out of memory", IDOK);
    DWORD dwCode = 0;
    EXPECT_FALSE(Guarded([] { FatalOutOfMemory(); }, &dwCode));
    EXPECT_EQ(dwCode, static_cast<DWORD>(EXC_OUT_OF_MEMORY));
    robot.ExpectBox(kTitle, "Unable to Create Registry Key.\nInternal Error in Registry line 42",
                    IDOK);
    EXPECT_FALSE(Guarded([] { InternalErrorMsg("Unable to Create Registry Key.", "Registry", 42); },
                         &dwCode));
    EXPECT_EQ(dwCode, static_cast<DWORD>(EXC_INTERNAL));
}

TEST_F(GuardTest, InternalErrorReportsAndReturnsWithAQuitMessagePostedWithOrWithoutHost) {
    robot.ExpectBox(kTitle, "Internal Error in Group line 9", IDOK);
    InternalError("Group", 9);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    hwndParent = nullptr;
    robot.ExpectBox(kTitle, "Internal Error in util line 5", IDOK);
    InternalError("util", 5);
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

} // namespace
