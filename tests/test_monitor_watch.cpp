// The monitor with its driver at work: changes of folders and files reach the
// recorder with the right code and full path, also inside renamed folders,
// for names the ANSI code page cannot spell and past a record's path field;
// a burst of files just before the stop loses nothing, and a watch that
// loses changes is never silent.
#include "files/lists.h"
#include "files/recorder.h"
#include "monitor/monitor.h"
#include "monitor/protocol.h"
#include "session/recording.h"
#include "support/file_session.h"
#include "support/monitored_test.h"
#include "support/prefix_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

class WatchedFolderTest : public MonitoredTest {
  protected:
    // The monitor's threads go on, cautions are dropped, and the folders the
    // ANSI calls cannot reach or spell are removed deepest first.
    void TearDown() override {
        pfnAllocFileEvent = std::calloc;
        ReleaseMonitor();
        MonitoredTest::TearDown();
        for (HANDLE hEvent : testEvents)
            CloseHandle(hEvent);
        FreeNameList(&Cautions);
        for (auto it = wideFolders.rbegin(); it != wideFolders.rend(); ++it)
            RemoveDirectoryW((L"\\\\?\\" + *it).c_str());
    }
    // Starts the monitor; returns the count of records handed over so far.
    DWORD Watch() {
        StartMonitor();
        return MonitorRecordsHandedOver();
    }
    // Stops the monitor, which hands over all it saw before the stop, and
    // expects exactly cRecords events inside the scratch folder: other
    // programs of the machine may change other folders meanwhile.
    void ExpectRecordedInScratch(size_t cRecords) {
        StopMonitor();
        size_t cInScratch = 0;
        for (FILEEVENT* pEvent = FirstRecordedEvent(); pEvent; pEvent = pEvent->pNext)
            cInScratch += std::string(pEvent->pszFile).starts_with(scratch.path() + "\\");
        EXPECT_EQ(cInScratch, cRecords);
    }
    // Asks the driver, before it starts, for a failure of its test hooks.
    HANDLE AskDriver(const char* pszHook) {
        char szName[96];
        std::snprintf(szName, sizeof szName, "trun95 test %s %lu", pszHook,
                      static_cast<unsigned long>(GetCurrentProcessId()));
        HANDLE hEvent = CreateEventA(nullptr, TRUE, FALSE, szName);
        EXPECT_NE(hEvent, nullptr);
        testEvents.push_back(hEvent);
        return hEvent;
    }
    // Starts the monitor with its watches held, so that changes pile up
    // unread until ReleaseMonitor.
    DWORD WatchHeld() {
        hHold = AskDriver("hold watches");
        return Watch();
    }
    void ReleaseMonitor() {
        if (hHold)
            SetEvent(hHold);
    }
    // Stops recording; the cautions are then exactly the given drive's.
    void ExpectCautionForDriveC() {
        StopRecording();
        EXPECT_EQ(ActiveNames(Cautions),
                  std::vector<std::string>{"Some changes on drive C: may not be listed: the "
                                           "monitor could not keep up with them"});
    }
    static bool Recorded(const std::string& path, DWORD dwOp) {
        return FindActiveEvent(path.c_str(), dwOp) != nullptr;
    }

    ScratchFolder scratch{"monitor-watch"};
    std::vector<std::wstring> wideFolders;
    std::vector<HANDLE> testEvents;
    HANDLE hHold = nullptr;
};

// The changes pile up unread and the monitor is stopped as soon as it may
// go on: all of them reach the recorder.
TEST_F(WatchedFolderTest, FilesMadeJustBeforeTheStopAreAllRecordedWithoutACaution) {
    constexpr int kFiles = 2000;
    std::string folder = scratch / "burst";
    DWORD dwBefore = WatchHeld();
    DWORD dwExit = RunProgram(BuildPath("trun95_fsworker.exe") + " burst " + folder + " 1 " +
                                  std::to_string(kFiles),
                              600000);
    ReleaseMonitor();
    StopRecording();
    ASSERT_EQ(dwExit, 0u);
    EXPECT_GE(MonitorRecordsHandedOver() - dwBefore, 2u + kFiles);
    EXPECT_TRUE(Recorded(folder + "\\f000\\", kOpFolderCreated));
    char szName[64];
    for (int i = 0; i < kFiles; ++i) {
        std::snprintf(szName, sizeof szName, "\\f000\\file%05d.dat", i);
        ASSERT_TRUE(Recorded(folder + szName, kOpFileCreated)) << i;
    }
    EXPECT_EQ(ActiveNames(Cautions), std::vector<std::string>{});
}

// The driver's threads are held while more changes pile up than a watch's
// buffer takes (each name is over 3,000 characters long): the platform drops
// them, and the drive gets a caution.
TEST_F(WatchedFolderTest, ChangesLostByAnOverflowingWatchGiveTheDriveACaution) {
    std::wstring deep(scratch.path().begin(), scratch.path().end());
    while (deep.size() < 3300) {
        deep += L"\\" + std::wstring(240, L'd');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
        wideFolders.push_back(deep);
    }
    WatchHeld();
    for (int i = 0; i < 400; ++i)
        CloseHandle(CreateFileW((L"\\\\?\\" + deep + L"\\" + std::to_wstring(i)).c_str(),
                                GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE,
                                nullptr));
    ReleaseMonitor();
    ExpectCautionForDriveC();
}

// Failures the platform does not make on demand, made by the driver's test
// hooks: each loses changes, and the drive gets its caution.
TEST_F(WatchedFolderTest, AFilesWatchThatCannotStartGivesTheDriveACaution) {
    AskDriver("fail files watches");
    Watch();
    ASSERT_TRUE(CreateDirectoryA((scratch / "seen").c_str(), nullptr));
    ExpectCautionForDriveC();
    EXPECT_TRUE(Recorded(scratch / "seen\\", kOpFolderCreated));
}

// Out of memory in the driver, then in the recorder on the monitor's thread.
TEST_F(WatchedFolderTest, ChangesLostForLackOfMemoryGiveTheDriveACautionAndTheHostGoesOn) {
    HANDLE hOutOfMemory = AskDriver("out of memory");
    Watch();
    WriteTextFile(scratch / "lost.txt", "x");
    ExpectCautionForDriveC();
    ResetEvent(hOutOfMemory);
    CloseHandle(hOutOfMemory);
    std::erase(testEvents, hOutOfMemory);
    FreeNameList(&Cautions);
    pfnAllocFileEvent = [](size_t, size_t) -> void* { return nullptr; };
    Watch();
    WriteTextFile(scratch / "lost by the recorder.txt", "x");
    ExpectCautionForDriveC();
    EXPECT_FALSE(Recorded(scratch / "lost by the recorder.txt", kOpFileCreated));
}

TEST_F(WatchedFolderTest, ARootThatTakesNoFlushMarkIsDrainedWithoutACaution) {
    AskDriver("no flush marks");
    Watch();
    for (int i = 0; i < 50; ++i)
        WriteTextFile(scratch / (std::to_string(i) + ".txt"), "x");
    StopRecording();
    EXPECT_EQ(ActiveNames(Cautions), std::vector<std::string>{});
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(Recorded(scratch / (std::to_string(i) + ".txt"), kOpFileCreated)) << i;
}

// Marks left by this process earlier and by a process that has ended go when
// watching starts; they are never recorded.
TEST_F(WatchedFolderTest, LeftoverFlushMarksAreRemovedWhenWatchingStarts) {
    char szOwn[64];
    std::snprintf(szOwn, sizeof szOwn, "C:\\~TR95FLUSH.%lu.999999",
                  static_cast<unsigned long>(GetCurrentProcessId()));
    std::string own = szOwn;
    std::string ended = "C:\\~TR95FLUSH.4000000.1";
    ASSERT_TRUE(CreateDirectoryA(own.c_str(), nullptr));
    WriteTextFile(ended, "x");
    Watch();
    bool fOwnLeft = Exists(own), fEndedLeft = Exists(ended);
    RemoveDirectoryA(own.c_str());
    DeleteFileA(ended.c_str());
    EXPECT_FALSE(fOwnLeft);
    EXPECT_FALSE(fEndedLeft);
    StopMonitor();
    EXPECT_FALSE(Recorded(own + "\\", kOpFolderRemoved));
}

// The stop waits for held watches; another thread's message to the host's
// window is answered meanwhile, and then lets the watches go on.
TEST_F(WatchedFolderTest, TheHostWindowAnswersWhileTheStopWaitsForTheDriver) {
    WatchHeld();
    bool fAnswered = false;
    std::thread sender([&] {
        DWORD_PTR result = 0;
        fAnswered = SendMessageTimeoutA(host.hwnd(), WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
        SetEvent(hHold);
    });
    StopMonitor();
    sender.join();
    EXPECT_TRUE(fAnswered);
}

TEST_F(WatchedFolderTest, FoldersBeyondTheRecordPathAreLeftOutWithACautionAndTheRestRecorded) {
    Watch();
    std::string path = scratch / "deep";
    std::vector<std::string> fitting;
    for (int level = 0; level < 7; ++level) {
        if (level > 0)
            path += "\\" + std::string(100, static_cast<char>('a' + level));
        std::wstring wide(path.begin(), path.end());
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + wide).c_str(), nullptr)) << path.size();
        wideFolders.push_back(wide);
        if (path.size() < static_cast<size_t>(kMonitorPathChars))
            fitting.push_back(path);
    }
    ASSERT_EQ(fitting.size(), 5u);
    ExpectRecordedInScratch(fitting.size());
    EXPECT_EQ(TakeMonitorMissedDrives(), 1u << ('C' - 'A'));
    for (const std::string& folder : fitting)
        EXPECT_TRUE(Recorded(folder + "\\", kOpFolderCreated)) << folder;
}

TEST_F(WatchedFolderTest, ItemWithoutAnAnsiNameIsRecordedByItsShortName) {
    std::wstring folder =
        std::wstring(scratch.path().begin(), scratch.path().end()) + L"\\\x4E2D\x6587-folder";
    Watch();
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    wideFolders.push_back(folder);
    ExpectRecordedInScratch(1);
    wchar_t szShort[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(folder.c_str(), szShort, MAX_PATH), 0u);
    std::wstring shortName = szShort;
    shortName = shortName.substr(shortName.rfind(L'\\') + 1);
    ASSERT_FALSE(shortName.empty());
    std::string expected = scratch / std::string(shortName.begin(), shortName.end());
    EXPECT_TRUE(Recorded(expected + "\\", kOpFolderCreated)) << expected;
    EXPECT_TRUE(Exists(expected));
}

TEST_F(WatchedFolderTest, ChangesInsideARenamedFolderCarryItsNewName) {
    std::string existing = scratch / "existing", fresh = scratch / "fresh";
    ASSERT_TRUE(CreateDirectoryA(existing.c_str(), nullptr));
    Watch();
    ASSERT_TRUE(CreateDirectoryA(fresh.c_str(), nullptr));
    ASSERT_TRUE(MoveFileA(fresh.c_str(), (scratch / "renamed").c_str()));
    ASSERT_TRUE(MoveFileA(existing.c_str(), (scratch / "moved").c_str()));
    WriteTextFile(scratch / "renamed\\a.txt", "a");
    WriteTextFile(scratch / "moved\\b.txt", "b");
    WriteTextFile(scratch / "moved\\gone.txt", "c");
    ASSERT_TRUE(DeleteFileA((scratch / "moved\\gone.txt").c_str()));
    ExpectRecordedInScratch(7);
    EXPECT_TRUE(Recorded(scratch / "moved\\gone.txt", kOpFileCreated));
    EXPECT_TRUE(Recorded(scratch / "moved\\gone.txt", kOpFileDeleted));
    EXPECT_TRUE(Recorded(fresh + "\\", kOpFolderCreated));
    FILEEVENT* pRename = FindActiveEvent(fresh.c_str(), kOpRenamed);
    ASSERT_NE(pRename, nullptr);
    EXPECT_STREQ(pRename->pszNewFile, (scratch / "renamed").c_str());
    EXPECT_TRUE(Recorded(existing, kOpRenamed));
    EXPECT_TRUE(Recorded(scratch / "renamed\\a.txt", kOpFileCreated));
    EXPECT_TRUE(Recorded(scratch / "moved\\b.txt", kOpFileCreated));
}

} // namespace
