#include "setup_scenario.h"

#include "actions/deaction.h"
#include "common/util.h"
#include "files/lists.h"
#include "files/recorder.h"
#include "files/snapshot.h"
#include "host_window.h"

#include <shlobj.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string FolderValue(const char* pszValue) {
    char szPath[MAX_PATH] = "";
    DWORD cb = sizeof szPath;
    RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", pszValue,
                 RRF_RT_REG_SZ, nullptr, szPath, &cb);
    return szPath;
}

// A logged change: "code|path|new path".
void FeedLoggedChange(const std::string& line) {
    std::istringstream fields(line);
    std::string code, path, newPath;
    std::getline(std::getline(std::getline(fields, code, '|'), path, '|'), newPath);
    FeedChange(static_cast<uint32_t>(std::stoul(code)), path, newPath);
}

} // namespace

void SetupScenarioTest::SetUp() {
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

void SetupScenarioTest::TearDown() {
    if (szTempDir[0])
        RemoveTree(szTempDir);
    FileSessionTest::TearDown();
    RestoreMachine();
}

void SetupScenarioTest::PrepareMachine() {
    RestoreMachine();
    WriteTextFile(programs + "\\Common Files\\acme-old.cfg", "old");
    WriteTextFile(system + "\\acme-gone.dll", "gone");
    WriteTextFile(system + "\\acme-shared.dat", "before");
}

void SetupScenarioTest::RestoreMachine() {
    for (const auto& [path, content] : savedIni)
        WriteTextFile(path, content);
    std::string common = programs + "\\Common Files\\";
    for (const std::string& path :
         {programs + "\\Acme", programs + "\\AcmeTemp", programs + "\\AcmeEarly",
          common + "AcmeShared.dll", common + "acme-old.cfg", common + "acme-old.bak",
          common + "scratch.tmp", windows + "\\acme.ini", windows + "\\inf\\acme.inf",
          system + "\\acme32.dll", system + "\\acme-gone.dll", system + "\\acme-shared.dat",
          startMenu + "\\Programs\\Acme", startMenu + "\\Programs\\Acme Help.lnk",
          desktop + "\\Acme.lnk"})
        RemoveTree(path);
}

std::vector<std::string> SetupScenarioTest::RunSetup(const ScratchFolder& logFolder) {
    std::string log = logFolder / "changes.log";
    EXPECT_EQ(RunProgram(BuildPath("fake_setup.exe") + " \"" + log + "\" \"" + programs + "\" \"" +
                         startMenu + "\" \"" + desktop + "\""),
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

Outcome SetupScenarioTest::CompareAfterSetup() {
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

Outcome SetupScenarioTest::RunHandFed() {
    FindTempBase();
    EXPECT_EQ(CreateTempFolder(szTempDir), 1);
    EXPECT_EQ(SnapshotSystemFolders(), 1);
    LoadProtectedFolders();
    ScratchFolder logFolder("scenario-log");
    for (const std::string& line : RunSetup(logFolder))
        FeedLoggedChange(line);
    return CompareAfterSetup();
}
