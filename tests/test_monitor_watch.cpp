// The monitor with its driver at work: changes of folders and files reach the
// recorder with the right code and full path, also inside renamed folders,
// for names the ANSI code page cannot spell and past a record's path field;
// a burst of 20,000 files loses nothing.
#include "files/recorder.h"
#include "monitor/monitor.h"
#include "monitor/protocol.h"
#include "support/monitored_test.h"
#include "support/monitor_wait.h"
#include "support/prefix_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

class WatchedFolderTest : public MonitoredTest {
  protected:
    // Folders the ANSI calls cannot reach or spell, removed deepest first.
    void TearDown() override {
        MonitoredTest::TearDown();
        for (auto it = wideFolders.rbegin(); it != wideFolders.rend(); ++it)
            RemoveDirectoryW((L"\\\\?\\" + *it).c_str());
    }
    // Starts the monitor; returns the count of records handed over so far.
    DWORD Watch() {
        StartMonitor();
        return MonitorRecordsHandedOver();
    }
    // Waits for exactly cRecords new records and stops the monitor.
    void ExpectHandedOver(DWORD dwBefore, DWORD cRecords, DWORD dwTimeoutMs = 30000) {
        EXPECT_TRUE(WaitForHandedOver(dwBefore + cRecords, dwTimeoutMs));
        StopMonitor();
        EXPECT_EQ(MonitorRecordsHandedOver() - dwBefore, cRecords);
    }
    static bool Recorded(const std::string& path, DWORD dwOp) {
        return FindActiveEvent(path.c_str(), dwOp) != nullptr;
    }

    ScratchFolder scratch{"monitor-watch"};
    std::vector<std::wstring> wideFolders;
};

TEST_F(WatchedFolderTest, TwentyThousandFilesInFiveHundredFoldersAreAllRecorded) {
    constexpr DWORD kFolders = 500, kFiles = 20000;
    std::string folder = scratch / "burst";
    DWORD dwBefore = Watch();
    std::string command = BuildPath("trun95_fsworker.exe") + " burst " + folder + " " +
                          std::to_string(kFolders) + " " + std::to_string(kFiles);
    ASSERT_EQ(RunProgram(command, 600000), 0u);
    ExpectHandedOver(dwBefore, 1 + kFolders + kFiles, 300000);
    EXPECT_TRUE(Recorded(folder + "\\", kOpFolderCreated));
    char szName[64];
    for (DWORD i = 0; i < kFolders; i += 50) {
        std::snprintf(szName, sizeof szName, "\\f%03lu\\", static_cast<unsigned long>(i));
        EXPECT_TRUE(Recorded(folder + szName, kOpFolderCreated)) << i;
    }
    for (DWORD i = 0; i < kFiles; i += 997) {
        std::snprintf(szName, sizeof szName, "\\f%03lu\\file%05lu.dat",
                      static_cast<unsigned long>(i % kFolders), static_cast<unsigned long>(i));
        EXPECT_TRUE(Recorded(folder + szName, kOpFileCreated)) << i;
    }
}

TEST_F(WatchedFolderTest, FoldersBeyondTheRecordPathAreLeftOutAndTheRestRecorded) {
    DWORD dwBefore = Watch();
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
    ExpectHandedOver(dwBefore, static_cast<DWORD>(fitting.size()));
    for (const std::string& folder : fitting)
        EXPECT_TRUE(Recorded(folder + "\\", kOpFolderCreated)) << folder;
}

TEST_F(WatchedFolderTest, ItemWithoutAnAnsiNameIsRecordedByItsShortName) {
    std::wstring folder =
        std::wstring(scratch.path().begin(), scratch.path().end()) + L"\\\x4E2D\x6587-folder";
    DWORD dwBefore = Watch();
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    wideFolders.push_back(folder);
    ExpectHandedOver(dwBefore, 1);
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
    DWORD dwBefore = Watch();
    ASSERT_TRUE(CreateDirectoryA(fresh.c_str(), nullptr));
    ASSERT_TRUE(MoveFileA(fresh.c_str(), (scratch / "renamed").c_str()));
    ASSERT_TRUE(MoveFileA(existing.c_str(), (scratch / "moved").c_str()));
    WriteTextFile(scratch / "renamed\\a.txt", "a");
    WriteTextFile(scratch / "moved\\b.txt", "b");
    WriteTextFile(scratch / "moved\\gone.txt", "c");
    ASSERT_TRUE(DeleteFileA((scratch / "moved\\gone.txt").c_str()));
    ExpectHandedOver(dwBefore, 7);
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
