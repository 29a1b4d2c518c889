// The monitor thread: draining the shared ring into the recorder, starting
// and stopping the thread, and loading the driver (found, missing, or
// already loaded by another process).
#include "files/recorder.h"
#include "monitor/monitor.h"
#include "monitor/protocol.h"
#include "monitor/vxdload.h"
#include "common/library.h"
#include "support/dialog_script.h"
#include "support/monitored_test.h"
#include "support/monitor_wait.h"
#include "support/prefix_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Draining the ring, against a buffer the test fills as the driver would.

class RingDrainTest : public testing::Test {
  protected:
    void SetUp() override {
        FreeRecordedChanges();
        SetMonitorSink(RecordFileChange);
        buffer_.assign(kMonitorBufferBytes / sizeof(uint32_t) + 1, 0);
        for (int i = 0; i < kMonitorSlots; ++i) {
            MONITOR_RECORD* pRecord = MonitorSlot(View(), i);
            pRecord->dwOperation = kOpFileCreated;
            std::snprintf(pRecord->szPath, sizeof pRecord->szPath, "%s", SlotPath(i).c_str());
        }
    }
    void TearDown() override { FreeRecordedChanges(); }

    void* View() { return buffer_.data(); }
    MONITOR_CONTROL* Control() { return static_cast<MONITOR_CONTROL*>(View()); }
    static std::string SlotPath(int i) { return "C:\\ring\\slot" + std::to_string(i) + ".dat"; }

    // The slots the recorder received, in the order it received them.
    std::vector<int> ReceivedSlots() {
        std::vector<std::pair<DWORD, int>> found;
        for (int i = 0; i < kMonitorSlots; ++i)
            if (FILEEVENT* pEvent = FindActiveEvent(SlotPath(i).c_str(), kOpFileCreated))
                found.push_back({pEvent->dwSeq, i});
        std::sort(found.begin(), found.end());
        std::vector<int> slots;
        for (auto& [seq, slot] : found)
            slots.push_back(slot);
        return slots;
    }

    std::vector<uint32_t> buffer_;
};

TEST_F(RingDrainTest, HandsOverTheSlotsAfterTheTailUpToTheHeadAndNothingForBadIndices) {
    struct Case {
        int head, tail;
        std::vector<int> slots;
        int tailAfter;
    };
    for (const Case& c : {Case{5, 2, {3, 4, 5}, 5}, Case{1, 63, {64, 0, 1}, 1},
                          Case{2, 64, {0, 1, 2}, 2}, Case{7, 7, {}, 7}, Case{65, 2, {}, 2},
                          Case{3, -1, {}, -1}, Case{-5, 10, {}, 10}, Case{1000000, 0, {}, 0}}) {
        FreeRecordedChanges();
        Control()->dwHead = c.head;
        Control()->dwTail = c.tail;
        DWORD dwBefore = MonitorRecordsHandedOver();
        DrainMonitorRing(View());
        EXPECT_EQ(ReceivedSlots(), c.slots) << c.head << " " << c.tail;
        EXPECT_EQ(MonitorRecordsHandedOver() - dwBefore, c.slots.size());
        EXPECT_EQ(Control()->dwTail, c.tailAfter) << c.head << " " << c.tail;
        EXPECT_EQ(Control()->dwHead, c.head);
    }
}

// ---------------------------------------------------------------------------
// Starting and stopping the monitor thread.

bool DriverLoadedHere() {
    return GetModuleHandleA("tr95.vxd") != nullptr;
}

using MonitorLifecycleTest = MonitoredTest;

TEST_F(MonitorLifecycleTest, SecondStartAndSecondStopDoNothingAndANewStartRecordsAgain) {
    char szBefore[MAX_PATH], szAfter[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, szBefore);
    StopMonitor(); // without a start
    StartMonitor();
    EXPECT_TRUE(DriverLoadedHere());
    GetCurrentDirectoryA(MAX_PATH, szAfter);
    EXPECT_STREQ(szAfter, szBefore);
    size_t cThreads = OwnThreadIds().size();
    StartMonitor();
    EXPECT_EQ(OwnThreadIds().size(), cThreads);
    StopMonitor();
    EXPECT_FALSE(DriverLoadedHere());
    cThreads = OwnThreadIds().size();
    StopMonitor();
    EXPECT_EQ(OwnThreadIds().size(), cThreads);

    ScratchFolder scratch("monitor-restart");
    std::string folder = scratch / "again";
    DWORD dwBefore = MonitorRecordsHandedOver();
    StartMonitor();
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_TRUE(WaitForHandedOver(dwBefore + 1));
    StopMonitor();
    EXPECT_NE(FindActiveEvent((folder + "\\").c_str(), kOpFolderCreated), nullptr);
}

// ---------------------------------------------------------------------------
// Loading the driver: missing, already loaded elsewhere, and the copy in
// the Windows folder.

constexpr char kErrorTitle[] = "Uninstaller";

std::string WindowsFolderCopy() {
    char szWindows[MAX_PATH];
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    return std::string(szWindows) + "\\tr95.vxd";
}

class DriverLoadTest : public HostedTest {
  protected:
    void SetUp() override {
        HostedTest::SetUp();
        savedLibrary_ = hinstLib;
    }
    void TearDown() override {
        StopMonitor();
        HostedTest::TearDown();
        hinstLib = savedLibrary_;
        if (hLibraryCopy_)
            FreeLibrary(hLibraryCopy_);
    }

    HINSTANCE savedLibrary_ = nullptr;
    HMODULE hLibraryCopy_ = nullptr;
    ScratchFolder libraryFolder_{"monitor-nodriver"};
};

TEST_F(DriverLoadTest, MissingDriverIsReportedWithItsCodeAndTheMonitorGivesUp) {
    // The library as installed in a folder of its own without the driver.
    std::string copy = libraryFolder_ / "TRUN95.dll";
    ASSERT_TRUE(CopyFileA(BuildPath("TRUN95.dll").c_str(), copy.c_str(), FALSE));
    hLibraryCopy_ = LoadLibraryA(copy.c_str());
    ASSERT_NE(hLibraryCopy_, nullptr);
    hinstLib = hLibraryCopy_;
    robot.ExpectBox(kErrorTitle, "ERROR 2h on VxD Load - Not in Current Directory or on Path.",
                    IDOK);
    StartMonitor();
    EXPECT_FALSE(DriverLoadedHere());
    StopMonitor();
    EXPECT_FALSE(Exists(WindowsFolderCopy()));
}

TEST_F(DriverLoadTest, DriverLoadedByAnotherProcessIsReportedAndLeftToIt) {
    std::string command =
        BuildPath("trun95_fsworker.exe") + " hold-driver \"" + BuildPath("tr95.vxd") + "\" 60000";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    // The other process announces its driver once loaded.
    auto markerExists = [] {
        HANDLE hMark = OpenMutexA(SYNCHRONIZE, FALSE, "VxD TR95.VXD loaded");
        if (hMark)
            CloseHandle(hMark);
        return hMark != nullptr;
    };
    ASSERT_TRUE(WaitUntil(markerExists, "the other process's driver"));

    robot.ExpectBox(kErrorTitle, "ERROR - TR95.VxD Already Loaded.\nUnable to reload the VxD.",
                    IDOK);
    StartMonitor();
    EXPECT_FALSE(DriverLoadedHere());
    StopMonitor();
    // The other process still holds its driver.
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(markerExists());
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

TEST_F(DriverLoadTest, CopyInTheWindowsFolderIsGoneWhenTheThreadEnds) {
    ASSERT_TRUE(CopyFileA(BuildPath("tr95.vxd").c_str(), WindowsFolderCopy().c_str(), FALSE));
    StartMonitor();
    EXPECT_TRUE(DriverLoadedHere());
    StopMonitor();
    EXPECT_FALSE(Exists(WindowsFolderCopy()));
}

// ---------------------------------------------------------------------------
// The driver loader: device names, probes and bad control calls.

class VxdLoaderTest : public testing::Test {
  protected:
    void SetUp() override {
        GetCurrentDirectoryA(MAX_PATH, szSavedFolder_);
        std::string bin = BuildPath("tr95.vxd");
        binFolder_ = bin.substr(0, bin.rfind('\\'));
    }
    void TearDown() override { SetCurrentDirectoryA(szSavedFolder_); }

    static HANDLE Open(const std::string& path) {
        return VxdCreateFile(path.c_str(), 0, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE,
                             nullptr);
    }

    char szSavedFolder_[MAX_PATH];
    std::string binFolder_;
};

TEST_F(VxdLoaderTest, DriverElsewhereOrWithAnOverLongNameIsNotFound) {
    ScratchFolder empty("monitor-empty");
    ASSERT_TRUE(SetCurrentDirectoryA(empty.path().c_str()));
    std::string longName(5000, 'x');
    for (const std::string& path :
         {std::string("\\\\.\\tr95.vxd"), "\\\\.\\" + empty.path() + "\\tr95.vxd",
          "\\\\.\\" + longName + ".vxd", "\\\\.\\C:\\" + longName + "\\tr95.vxd"}) {
        SetLastError(0);
        EXPECT_EQ(Open(path), INVALID_HANDLE_VALUE) << path.substr(0, 40);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << path.substr(0, 40);
    }
    EXPECT_EQ(VxdCreateFile(("\\\\.\\" + longName).c_str(), 0, 0, nullptr, 0, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DriverLoadedHere());
}

TEST_F(VxdLoaderTest, ProbeOpensOnlyWhileTheDriverIsLoadedAndNeverReachesIt) {
    EXPECT_EQ(VxdCreateFile("\\\\.\\tr95", 0, 0, nullptr, 0, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DriverLoadedHere());
    ASSERT_TRUE(SetCurrentDirectoryA(binFolder_.c_str()));
    HANDLE hDriver = Open("\\\\.\\tr95.vxd");
    ASSERT_NE(hDriver, INVALID_HANDLE_VALUE);
    HANDLE hProbe = VxdCreateFile("\\\\.\\TR95", 0, 0, nullptr, 0, 0, nullptr);
    ASSERT_NE(hProbe, INVALID_HANDLE_VALUE);
    DWORD cbReturned = 0;
    EXPECT_FALSE(
        VxdDeviceIoControl(hProbe, MONITOR_STOP, nullptr, 0, nullptr, 0, &cbReturned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_TRUE(VxdCloseHandle(hProbe));
    EXPECT_TRUE(DriverLoadedHere());
    // The owner's handle still reaches the driver, which refuses arming
    // without a buffer, codes it does not know and a flush while unarmed.
    EXPECT_TRUE(
        VxdDeviceIoControl(hDriver, MONITOR_STOP, nullptr, 0, nullptr, 0, &cbReturned, nullptr));
    MONITOR_ARM_INPUT input{};
    EXPECT_FALSE(VxdDeviceIoControl(hDriver, MONITOR_ARM, &input, sizeof input, nullptr, 0,
                                    &cbReturned, nullptr));
    EXPECT_FALSE(
        VxdDeviceIoControl(hDriver, MONITOR_ARM, nullptr, 0, nullptr, 0, &cbReturned, nullptr));
    EXPECT_FALSE(VxdDeviceIoControl(hDriver, 77, nullptr, 0, nullptr, 0, &cbReturned, nullptr));
    EXPECT_FALSE(
        VxdDeviceIoControl(hDriver, MONITOR_FLUSH, nullptr, 0, nullptr, 0, &cbReturned, nullptr));
    EXPECT_TRUE(VxdCloseHandle(hDriver));
    EXPECT_EQ(VxdCreateFile("\\\\.\\tr95", 0, 0, nullptr, 0, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DriverLoadedHere());
}

} // namespace
