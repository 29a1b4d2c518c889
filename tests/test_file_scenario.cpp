// A setup program run inside the prefix: what it did to Program Files, the
// Windows folder and its subfolders, the system folder, the Start Menu and
// the Desktop comes back as exactly the expected undo actions and cautions.
#include "actions/deaction.h"
#include "common/util.h"
#include "files/lists.h"
#include "files/recorder.h"
#include "files/snapshot.h"
#include "monitor/protocol.h"
#include "session/session.h"
#include "support/host_window.h"
#include "support/prefix_files.h"
#include "support/robot.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string SpecialFolder(int iFolder) {
    char szPath[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, szPath, iFolder, TRUE);
    return szPath;
}

std::string ProgramFilesFolder() {
    char szPath[MAX_PATH] = "";
    DWORD cb = sizeof szPath;
    RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                 "ProgramFilesDir", RRF_RT_REG_SZ, nullptr, szPath, &cb);
    return szPath;
}

std::string WindowsFolder() {
    char szPath[MAX_PATH];
    GetWindowsDirectoryA(szPath, MAX_PATH);
    return szPath;
}

std::string SystemFolder() {
    char szPath[MAX_PATH];
    GetSystemDirectoryA(szPath, MAX_PATH);
    return szPath;
}

// Hands one logged change to the recorder in the monitor's record layout.
void FeedLine(const std::string& line) {
    std::istringstream fields(line);
    std::string code, path, newPath;
    std::getline(fields, code, '|');
    std::getline(fields, path, '|');
    std::getline(fields, newPath, '|');
    MONITOR_RECORD record{};
    record.dwOperation = static_cast<uint32_t>(std::stoul(code));
    lstrcpynA(record.szPath, path.c_str(), kMonitorPathChars);
    lstrcpynA(record.szPath2, newPath.c_str(), kMonitorPathChars);
    RecordFileChange(0, &record);
}

struct ActionView {
    int iKind;
    int iOrder;
    std::string object;
    std::string description;
    bool operator==(const ActionView&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ActionView& view) {
    return out << "{" << view.iKind << ", " << view.iOrder << ", " << view.object << ", "
               << view.description << "}";
}

std::vector<ActionView> OfferedActions() {
    std::vector<ActionView> views;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (!pact->fDone)
            views.push_back({pact->wKind, pact->wOrder, pact->szObject, pact->pszDescription});
    }
    return views;
}

std::vector<std::string> ActiveNames(NAMEITEM* pList) {
    std::vector<std::string> names;
    for (NAMEITEM* pItem = pList; pItem; pItem = pItem->pNext) {
        if (pItem->bActive)
            names.push_back(pItem->szName);
    }
    return names;
}

class FileScenarioTest : public testing::Test {
  protected:
    void SetUp() override {
        hwndParent = host.hwnd();
        windows = WindowsFolder();
        system = SystemFolder();
        programs = ProgramFilesFolder();
        startMenu = SpecialFolder(CSIDL_STARTMENU);
        desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
        ASSERT_FALSE(programs.empty());
        ASSERT_FALSE(startMenu.empty());
        ASSERT_FALSE(desktop.empty());
        CreateDirectoryA((programs + "\\Common Files").c_str(), nullptr);
        CreateDirectoryA((startMenu + "\\Programs").c_str(), nullptr);
        CreateDirectoryA((windows + "\\inf").c_str(), nullptr);
        RemoveCreatedItems();
        for (const char* pszIni : {"\\win.ini", "\\system.ini"}) {
            std::string path = windows + pszIni;
            if (!Exists(path))
                WriteTextFile(path, "[boot]\r\nshell=Explorer.exe\r\n");
            savedIni.push_back({path, ReadTextFile(path)});
        }
        WriteTextFile(programs + "\\Common Files\\acme-old.cfg", "old");
        WriteTextFile(system + "\\acme-gone.dll", "gone");
        WriteTextFile(system + "\\acme-shared.dat", "before");
    }

    void TearDown() override {
        FreeActionList();
        FreeRecordedChanges();
        FreeNameList(&NewFolders);
        FreeNameList(&NewFiles);
        FreeNameList(&Cautions);
        for (DIRFILE** ppList : {&WinBefore, &WinAfter, &SysBefore, &SysAfter, &BackupList})
            FreeFileList(ppList);
        FreeProtectedFolders();
        if (szTempDir[0]) {
            RemoveTree(szTempDir);
            szTempDir[0] = '\0';
        }
        for (const auto& [path, content] : savedIni)
            WriteTextFile(path, content);
        RemoveCreatedItems();
        robot.Finish();
        hwndParent = nullptr;
    }

    void RemoveCreatedItems() {
        for (const std::string& path :
             {programs + "\\Acme", programs + "\\AcmeTemp",
              programs + "\\Common Files\\AcmeShared.dll",
              programs + "\\Common Files\\acme-old.cfg", programs + "\\Common Files\\acme-old.bak",
              programs + "\\Common Files\\scratch.tmp", windows + "\\acme.ini",
              windows + "\\inf\\acme.inf", system + "\\acme32.dll", system + "\\acme-gone.dll",
              system + "\\acme-shared.dat", startMenu + "\\Programs\\Acme",
              startMenu + "\\Programs\\Acme Help.lnk", desktop + "\\Acme.lnk"})
            RemoveTree(path);
    }

    // The file side of a session: before setup, setup itself with its
    // changes fed to the recorder, and the steps after setup in their order.
    void RunSessionAroundSetup() {
        FindTempBase();
        ASSERT_EQ(CreateTempFolder(szTempDir), 1);
        ASSERT_EQ(SnapshotSystemFolders(), 1);
        LoadProtectedFolders();
        ScratchFolder logFolder("scenario-log");
        std::string log = logFolder / "changes.log";
        ASSERT_EQ(RunProgram(BuildPath("fake_setup.exe") + " \"" + log + "\" \"" + programs +
                             "\" \"" + startMenu + "\" \"" + desktop + "\""),
                  0u);
        std::ifstream changes(log);
        for (std::string line; std::getline(changes, line);)
            FeedLine(line);
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
    }

    static std::string Lower(std::string text) {
        CharLowerA(text.data());
        return text;
    }

    HostWindow host;
    Robot robot;
    std::string windows, system, programs, startMenu, desktop;
    std::vector<std::pair<std::string, std::string>> savedIni;
};

TEST_F(FileScenarioTest, SetupChangesBecomeTheExpectedActionsInListOrder) {
    RunSessionAroundSetup();
    std::string common = programs + "\\Common Files\\";
    std::string systemIni = windows + "\\system.ini";
    std::vector<ActionView> expected = {
        {DEA_GROUP, 1, "Acme", "Group \"Acme\""},
        {DEA_ICON, 2, "Acme Help", "Icon \"Acme Help\" in group \"Programs\""},
        {DEA_ICON, 2, "Acme", "Icon \"Acme\" in desktop folder (\"Desktop\")"},
        {DEA_RESTORE, 3, systemIni, "Changes to \"" + systemIni + "\""},
        {DEA_FOLDER, 4, programs + "\\Acme\\", "Folder \"" + programs + "\\Acme\\\""},
        {DEA_FOLDER, 4, programs + "\\Acme\\Data\\", "Folder \"" + programs + "\\Acme\\Data\\\""},
        {DEA_FILE, 5, Lower(windows + "\\acme.ini"),
         "File \"" + Lower(windows + "\\acme.ini") + "\""},
        {DEA_FILE, 5, Lower(system + "\\acme32.dll"),
         "File \"" + Lower(system + "\\acme32.dll") + "\""},
        {DEA_FILE, 6, common + "acme-old.bak", "File \"" + common + "acme-old.bak\""},
        {DEA_FILE, 6, common + "AcmeShared.dll", "File \"" + common + "AcmeShared.dll\""},
        {DEA_FILE, 6, windows + "\\inf\\acme.inf", "File \"" + windows + "\\inf\\acme.inf\""},
    };
    EXPECT_EQ(OfferedActions(), expected);
}

TEST_F(FileScenarioTest, UndoableSystemFolderChangesBecomeCautions) {
    RunSessionAroundSetup();
    std::string gone = Lower(system + "\\acme-gone.dll");
    std::string altered = Lower(system + "\\acme-shared.dat");
    EXPECT_EQ(ActiveNames(Cautions),
              (std::vector<std::string>{"File \"" + gone + "\" was deleted",
                                        "File \"" + altered + "\" was altered"}));
}

TEST_F(FileScenarioTest, GroupsAndIconsKeepTheirFullPathsAndUndoRemovesThem) {
    RunSessionAroundSetup();
    std::vector<std::string> extras;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->wKind == DEA_GROUP || pact->wKind == DEA_ICON) {
            extras.push_back(static_cast<const char*>(pact->pExtra));
            EXPECT_EQ(pact->pfnUndo(pact), 1) << pact->pszDescription;
            EXPECT_FALSE(Exists(extras.back()));
        }
    }
    EXPECT_EQ(extras, (std::vector<std::string>{startMenu + "\\Programs\\Acme\\",
                                                startMenu + "\\Programs\\Acme Help.lnk",
                                                desktop + "\\Acme.lnk"}));
}

TEST_F(FileScenarioTest, RestoreActionPutsTheAlteredIniBackFromTheBackup) {
    std::string before = ReadTextFile(windows + "\\system.ini");
    RunSessionAroundSetup();
    ASSERT_NE(ReadTextFile(windows + "\\system.ini"), before);
    DEACTION* pRestore = nullptr;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->wKind == DEA_RESTORE)
            pRestore = pact;
    }
    ASSERT_NE(pRestore, nullptr);
    EXPECT_EQ(pRestore->pfnConfirm(pRestore), IDOK);
    EXPECT_EQ(pRestore->pfnUndo(pRestore), 1);
    EXPECT_EQ(ReadTextFile(windows + "\\system.ini"), before);
}

TEST_F(FileScenarioTest, ResolvedNewFilesHoldRenamedAndRemovedEntries) {
    RunSessionAroundSetup();
    std::string acme = programs + "\\Acme\\";
    // The temporary name of a renamed file stays in the list until the
    // verification finds it gone; files in new folders are pruned.
    NAMEITEM* pTemp = FindName(NewFiles, (acme + "setup.tmp").c_str());
    ASSERT_NE(pTemp, nullptr);
    EXPECT_EQ(pTemp->bActive, 0);
    NAMEITEM* pScratch = FindName(NewFiles, (programs + "\\Common Files\\scratch.tmp").c_str());
    ASSERT_NE(pScratch, nullptr);
    EXPECT_EQ(pScratch->bActive, 0);
    NAMEITEM* pGoneFolder = FindName(NewFolders, (programs + "\\AcmeTemp\\").c_str());
    ASSERT_NE(pGoneFolder, nullptr);
    EXPECT_EQ(pGoneFolder->bActive, 0);
    EXPECT_EQ(FindName(NewFiles, (windows + "\\acme.ini").c_str()), nullptr);
}

} // namespace
