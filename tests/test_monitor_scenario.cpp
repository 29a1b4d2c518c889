// The setup scenario of the file tests, once with its changes fed to the
// recorder by hand and once inside a real session with the monitor alone
// watching: both runs end in the same undo actions and cautions.
#include "actions/deaction.h"
#include "common/util.h"
#include "files/lists.h"
#include "files/recorder.h"
#include "files/snapshot.h"
#include "monitor/monitor.h"
#include "session/session.h"
#include "support/file_session.h"
#include "support/monitor_wait.h"
#include "support/prefix_files.h"

#include <shlobj.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string FolderValue(const char* pszValue) {
    char szPath[MAX_PATH] = "";
    DWORD cb = sizeof szPath;
    RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", pszValue,
                 RRF_RT_REG_SZ, nullptr, szPath, &cb);
    return szPath;
}

// What one run leaves to offer.
struct Outcome {
    std::vector<ActionView> actions;
    std::vector<std::string> cautions;
};

class MonitoredScenarioTest : public FileSessionTest {
  protected:
    void SetUp() override {
        FileSessionTest::SetUp();
        windows = std::string(WinDir).substr(0, std::strlen(WinDir) - 1);
        system = std::string(SysDir).substr(0, std::strlen(SysDir) - 1);
        programs = FolderValue("ProgramFilesDir");
        startMenu = SpecialFolderPath(CSIDL_STARTMENU);
        desktop = SpecialFolderPath(CSIDL_DESKTOPDIRECTORY);
        for (const std::string& folder :
             {programs + "\\Common Files", startMenu + "\\Programs", windows + "\\inf"})
            CreateDirectoryA(folder.c_str(), nullptr);
        for (const char* pszIni : {"\\win.ini", "\\system.ini"}) {
            if (!Exists(windows + pszIni))
                WriteTextFile(windows + pszIni, "[boot]\r\nshell=Explorer.exe\r\n");
            savedIni.push_back({windows + pszIni, ReadTextFile(windows + pszIni)});
        }
        PrepareMachine();
    }

    void TearDown() override {
        post_setup_cleanup();
        FreeFileSide();
        FileSessionTest::TearDown();
        RestoreMachine();
    }

    // The machine as the scenario expects it before setup.
    void PrepareMachine() {
        RestoreMachine();
        WriteTextFile(programs + "\\Common Files\\acme-old.cfg", "old");
        WriteTextFile(system + "\\acme-gone.dll", "gone");
        WriteTextFile(system + "\\acme-shared.dat", "before");
    }

    void RestoreMachine() {
        for (const auto& [path, content] : savedIni)
            WriteTextFile(path, content);
        std::string common = programs + "\\Common Files\\";
        for (const std::string& path :
             {programs + "\\Acme", programs + "\\AcmeTemp", common + "AcmeShared.dll",
              common + "acme-old.cfg", common + "acme-old.bak", common + "scratch.tmp",
              windows + "\\acme.ini", windows + "\\inf\\acme.inf", system + "\\acme32.dll",
              system + "\\acme-gone.dll", system + "\\acme-shared.dat",
              startMenu + "\\Programs\\Acme", startMenu + "\\Programs\\Acme Help.lnk",
              desktop + "\\Acme.lnk"})
            RemoveTree(path);
    }

    void FreeFileSide() {
        FreeActionList();
        FreeRecordedChanges();
        FreeNameList(&NewFolders);
        FreeNameList(&NewFiles);
        FreeNameList(&Cautions);
        for (DIRFILE** ppList : {&WinBefore, &WinAfter, &SysBefore, &SysAfter, &BackupList})
            FreeFileList(ppList);
        FreeProtectedFolders();
        if (szTempDir[0])
            RemoveTree(szTempDir);
        szTempDir[0] = '\0';
    }

    // Runs the setup helper; returns the changes it made, one line each.
    std::vector<std::string> RunSetup(const ScratchFolder& logFolder) {
        std::string log = logFolder / "changes.log";
        EXPECT_EQ(RunProgram(BuildPath("fake_setup.exe") + " \"" + log + "\" \"" + programs +
                             "\" \"" + startMenu + "\" \"" + desktop + "\""),
                  0u);
        std::vector<std::string> lines;
        std::ifstream changes(log);
        for (std::string line; std::getline(changes, line);)
            lines.push_back(line);
        changes.close();
        // The log is the helper's, not setup's: gone again, it leaves no action.
        DeleteFileA(log.c_str());
        return lines;
    }

    // The steps after setup, in the session's order.
    Outcome CompareAfterSetup() {
        ResolveRecordedChanges();
        DWORD dwCount = 0;
        ListFolderFiles(WinDir, &WinAfter, &dwCount);
        SortFileList(&WinAfter, dwCount);
        ListFolderFiles(SysDir, &SysAfter, &dwCount);
        SortFileList(&SysAfter, dwCount);
        CompareFiles();
        VerifyNewItems();
        CheckGroupsAndIcons();
        SortActionList();
        return {OfferedActions(), ActiveNames(Cautions)};
    }

    Outcome RunHandFed() {
        FindTempBase();
        EXPECT_EQ(CreateTempFolder(szTempDir), 1);
        EXPECT_EQ(SnapshotSystemFolders(), 1);
        LoadProtectedFolders();
        ScratchFolder logFolder("monitor-scenario-log");
        for (const std::string& line : RunSetup(logFolder)) {
            std::istringstream fields(line);
            std::string code, path, newPath;
            std::getline(std::getline(std::getline(fields, code, '|'), path, '|'), newPath);
            FeedChange(static_cast<uint32_t>(std::stoul(code)), path, newPath);
        }
        return CompareAfterSetup();
    }

    Outcome RunMonitored() {
        ScratchFolder logFolder("monitor-scenario-log");
        EXPECT_TRUE(pre_setup_save(host.hwnd(), host.status()));
        DWORD dwBefore = MonitorRecordsHandedOver();
        std::vector<std::string> lines = RunSetup(logFolder);
        // Every logged change, and the log's own creation and deletion.
        EXPECT_TRUE(WaitForHandedOver(dwBefore + static_cast<DWORD>(lines.size()) + 2));
        StopRecording();
        return CompareAfterSetup();
    }

    std::string windows, system, programs, startMenu, desktop;
    std::vector<std::pair<std::string, std::string>> savedIni;
};

TEST_F(MonitoredScenarioTest, MonitorAloneGivesTheActionsOfTheHandFedChanges) {
    Outcome handFed = RunHandFed();
    ASSERT_FALSE(handFed.actions.empty());
    FreeFileSide();
    PrepareMachine();
    Outcome monitored = RunMonitored();
    EXPECT_EQ(monitored.actions, handFed.actions);
    EXPECT_EQ(monitored.cautions, handFed.cautions);
}

} // namespace
