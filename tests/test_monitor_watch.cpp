// The monitor with its driver at work: another process changes folders and
// files while a session runs, and every change reaches the recorder with
// the right code and full path; a burst of 20,000 files loses nothing.
#include "files/recorder.h"
#include "monitor/monitor.h"
#include "monitor/protocol.h"
#include "session/session.h"
#include "support/monitored_test.h"
#include "support/monitor_wait.h"
#include "support/prefix_files.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string WindowsFolder() {
    char szWindows[MAX_PATH];
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    return szWindows;
}

std::string StartMenuPrograms() {
    char szFolder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, szFolder, CSIDL_PROGRAMS, FALSE);
    return szFolder;
}

std::string ProgramFilesFolder() {
    char szFolder[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, szFolder, CSIDL_PROGRAM_FILES, FALSE);
    return szFolder;
}

std::string Unique(const char* pszName) {
    return std::string(pszName) + std::to_string(GetCurrentProcessId());
}

// ---------------------------------------------------------------------------
// A setup-like process works while a session's monitor runs.

class WatchedSetupTest : public MonitoredTest {
  protected:
    void SetUp() override {
        MonitoredTest::SetUp();
        prog_ = ProgramFilesFolder() + "\\" + Unique("MonApp");
        windows_ = WindowsFolder();
        startMenu_ = StartMenuPrograms();
        ASSERT_FALSE(startMenu_.empty());
    }
    void TearDown() override {
        post_setup_cleanup();
        MonitoredTest::TearDown();
        RemoveTree(prog_);
        RemoveTree(windows_ + "\\MonApp");
        RemoveTree(windows_ + "\\monapp.ini");
        RemoveTree(startMenu_ + "\\MonApp");
    }

    std::string prog_, windows_, startMenu_;
};

TEST_F(WatchedSetupTest, EveryChangeOfAnotherProcessReachesTheRecorder) {
    ASSERT_TRUE(pre_setup_save(host.hwnd(), host.status()));
    DWORD dwBefore = MonitorRecordsHandedOver();
    std::string command = BuildPath("trun95_fsworker.exe") + " scenario \"" + prog_ + "\" \"" +
                          windows_ + "\" \"" + startMenu_ + "\"";
    ASSERT_EQ(RunProgram(command), 0u);
    // 20 operations, of which two renames report once each.
    EXPECT_TRUE(WaitForHandedOver(dwBefore + 20));
    StopMonitor();

    const std::string app = prog_ + "\\App";
    for (const auto& [path, dwOp] : std::vector<std::pair<std::string, DWORD>>{
             {prog_ + "\\", kOpFolderCreated},
             {app + "\\", kOpFolderCreated},
             {app + "\\bin\\", kOpFolderCreated},
             {app + "\\data\\", kOpFolderCreated},
             {app + "\\data\\sub\\", kOpFolderCreated},
             {app + "\\bin\\app.exe", kOpFileCreated},
             {app + "\\bin\\setup.tmp", kOpFileCreated},
             {app + "\\data\\sub\\a.dat", kOpFileCreated},
             {app + "\\temp.log", kOpFileCreated},
             {app + "\\temp.log", kOpFileDeleted},
             {app + "\\old\\", kOpFolderCreated},
             {app + "\\scratch\\", kOpFolderCreated},
             {app + "\\scratch\\", kOpFolderRemoved},
             {windows_ + "\\monapp.ini", kOpFileCreated},
             {windows_ + "\\MonApp\\", kOpFolderCreated},
             {windows_ + "\\MonApp\\x.dll", kOpFileCreated},
             {startMenu_ + "\\MonApp\\", kOpFolderCreated},
             {startMenu_ + "\\MonApp\\App.lnk", kOpFileCreated}})
        EXPECT_NE(FindActiveEvent(path.c_str(), dwOp), nullptr) << path << " " << dwOp;

    FILEEVENT* pFileRename = FindActiveEvent((app + "\\bin\\setup.tmp").c_str(), kOpRenamed);
    ASSERT_NE(pFileRename, nullptr);
    ASSERT_NE(pFileRename->pszNewFile, nullptr);
    EXPECT_STREQ(pFileRename->pszNewFile, (app + "\\bin\\helper.dll").c_str());
    FILEEVENT* pFolderRename = FindActiveEvent((app + "\\old").c_str(), kOpRenamed);
    ASSERT_NE(pFolderRename, nullptr);
    ASSERT_NE(pFolderRename->pszNewFile, nullptr);
    EXPECT_STREQ(pFolderRename->pszNewFile, (app + "\\plugins").c_str());

    // Nothing was reported twice or out of thin air.
    EXPECT_EQ(MonitorRecordsHandedOver() - dwBefore, 20u);
}

TEST_F(WatchedSetupTest, ChangesBeforeTheSessionAreNotRecorded) {
    std::string early = prog_ + "-early";
    ASSERT_TRUE(CreateDirectoryA(early.c_str(), nullptr));
    ASSERT_TRUE(pre_setup_save(host.hwnd(), host.status()));
    StopMonitor();
    EXPECT_EQ(FindActiveEvent((early + "\\").c_str(), kOpFolderCreated), nullptr);
    RemoveTree(early);
}

// ---------------------------------------------------------------------------
// A burst of 20,000 new files in 500 new folders.

class BurstTest : public MonitoredTest {
  protected:
    ScratchFolder scratch_{"monitor-burst"};
    std::string folder_ = scratch_ / "burst";
};

TEST_F(BurstTest, TwentyThousandFilesInFiveHundredFoldersAreAllRecorded) {
    constexpr DWORD kFolders = 500, kFiles = 20000;
    StartMonitor();
    DWORD dwBefore = MonitorRecordsHandedOver();
    std::string command = BuildPath("trun95_fsworker.exe") + " burst " + folder_ + " " +
                          std::to_string(kFolders) + " " + std::to_string(kFiles);
    ASSERT_EQ(RunProgram(command, 600000), 0u);
    EXPECT_TRUE(WaitForHandedOver(dwBefore + 1 + kFolders + kFiles, 300000));
    StopMonitor();
    EXPECT_EQ(MonitorRecordsHandedOver() - dwBefore, 1 + kFolders + kFiles);

    EXPECT_NE(FindActiveEvent((folder_ + "\\").c_str(), kOpFolderCreated), nullptr);
    char szName[64];
    for (DWORD i = 0; i < kFolders; i += 50) {
        std::snprintf(szName, sizeof szName, "\\f%03lu\\", static_cast<unsigned long>(i));
        EXPECT_NE(FindActiveEvent((folder_ + szName).c_str(), kOpFolderCreated), nullptr) << i;
    }
    for (DWORD i = 0; i < kFiles; i += 997) {
        std::snprintf(szName, sizeof szName, "\\f%03lu\\file%05lu.dat",
                      static_cast<unsigned long>(i % kFolders), static_cast<unsigned long>(i));
        EXPECT_NE(FindActiveEvent((folder_ + szName).c_str(), kOpFileCreated), nullptr) << i;
    }
}

// ---------------------------------------------------------------------------
// Paths longer than a record's path field.

class LongPathTest : public MonitoredTest {
  protected:
    // The deepest folders lie beyond what the ANSI calls reach.
    void TearDown() override {
        MonitoredTest::TearDown();
        for (auto it = created_.rbegin(); it != created_.rend(); ++it)
            RemoveDirectoryW((L"\\\\?\\" + *it).c_str());
    }
    ScratchFolder scratch_{"monitor-long"};
    std::string base_ = scratch_ / "deep";
    std::vector<std::wstring> created_;
};

TEST_F(LongPathTest, FoldersBeyondTheRecordPathAreLeftOutAndTheRestRecorded) {
    StartMonitor();
    DWORD dwBefore = MonitorRecordsHandedOver();
    std::string path = base_;
    std::vector<std::string> fitting;
    for (int level = 0; level < 7; ++level) {
        if (level > 0)
            path += "\\" + std::string(100, static_cast<char>('a' + level));
        std::wstring wide(path.begin(), path.end());
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + wide).c_str(), nullptr)) << path.size();
        created_.push_back(wide);
        if (path.size() < static_cast<size_t>(kMonitorPathChars))
            fitting.push_back(path);
    }
    ASSERT_EQ(fitting.size(), 5u);
    EXPECT_TRUE(WaitForHandedOver(dwBefore + fitting.size()));
    StopMonitor();
    EXPECT_EQ(MonitorRecordsHandedOver() - dwBefore, fitting.size());
    for (const std::string& folder : fitting)
        EXPECT_NE(FindActiveEvent((folder + "\\").c_str(), kOpFolderCreated), nullptr);
}

// ---------------------------------------------------------------------------
// Names that the ANSI code page cannot spell.

class AnsiNameTest : public MonitoredTest {
  protected:
    void TearDown() override {
        MonitoredTest::TearDown();
        RemoveDirectoryW(folder_.c_str());
    }
    ScratchFolder scratch_{"monitor-names"};
    std::wstring folder_ =
        std::wstring(scratch_.path().begin(), scratch_.path().end()) + L"\\\x4E2D\x6587-folder";
};

TEST_F(AnsiNameTest, ItemWithoutAnAnsiNameIsRecordedByItsShortName) {
    StartMonitor();
    DWORD dwBefore = MonitorRecordsHandedOver();
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    EXPECT_TRUE(WaitForHandedOver(dwBefore + 1));
    StopMonitor();
    EXPECT_EQ(MonitorRecordsHandedOver() - dwBefore, 1u);
    wchar_t szShort[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(folder_.c_str(), szShort, MAX_PATH), 0u);
    std::wstring shortName = szShort;
    shortName = shortName.substr(shortName.rfind(L'\\') + 1);
    ASSERT_FALSE(shortName.empty());
    std::string expected = scratch_.path() + "\\" + std::string(shortName.begin(), shortName.end());
    EXPECT_NE(FindActiveEvent((expected + "\\").c_str(), kOpFolderCreated), nullptr) << expected;
    EXPECT_NE(GetFileAttributesA(expected.c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---------------------------------------------------------------------------
// Folders renamed while watched.

class RenamedFolderTest : public MonitoredTest {
  protected:
    ScratchFolder scratch_{"monitor-rename"};
};

TEST_F(RenamedFolderTest, ChangesInsideARenamedFolderCarryItsNewName) {
    std::string existing = scratch_ / "existing";
    ASSERT_TRUE(CreateDirectoryA(existing.c_str(), nullptr));
    StartMonitor();
    DWORD dwBefore = MonitorRecordsHandedOver();
    std::string fresh = scratch_ / "fresh";
    ASSERT_TRUE(CreateDirectoryA(fresh.c_str(), nullptr));
    ASSERT_TRUE(MoveFileA(fresh.c_str(), (scratch_ / "renamed").c_str()));
    ASSERT_TRUE(MoveFileA(existing.c_str(), (scratch_ / "moved").c_str()));
    WriteTextFile(scratch_ / "renamed\\a.txt", "a");
    WriteTextFile(scratch_ / "moved\\b.txt", "b");
    WriteTextFile(scratch_ / "moved\\gone.txt", "c");
    ASSERT_TRUE(DeleteFileA((scratch_ / "moved\\gone.txt").c_str()));
    EXPECT_TRUE(WaitForHandedOver(dwBefore + 7));
    StopMonitor();
    EXPECT_EQ(MonitorRecordsHandedOver() - dwBefore, 7u);
    EXPECT_NE(FindActiveEvent((scratch_ / "moved\\gone.txt").c_str(), kOpFileCreated), nullptr);
    EXPECT_NE(FindActiveEvent((scratch_ / "moved\\gone.txt").c_str(), kOpFileDeleted), nullptr);
    EXPECT_NE(FindActiveEvent((fresh + "\\").c_str(), kOpFolderCreated), nullptr);
    FILEEVENT* pRename = FindActiveEvent(fresh.c_str(), kOpRenamed);
    ASSERT_NE(pRename, nullptr);
    EXPECT_STREQ(pRename->pszNewFile, (scratch_ / "renamed").c_str());
    EXPECT_NE(FindActiveEvent(existing.c_str(), kOpRenamed), nullptr);
    EXPECT_NE(FindActiveEvent((scratch_ / "renamed\\a.txt").c_str(), kOpFileCreated), nullptr);
    EXPECT_NE(FindActiveEvent((scratch_ / "moved\\b.txt").c_str(), kOpFileCreated), nullptr);
}

} // namespace
