// A setup program run inside the prefix: what it did to Program Files, the
// Windows folder and its subfolders, the system folder, the Start Menu and
// the Desktop comes back as exactly the expected undo actions and cautions.
#include "actions/deaction.h"
#include "common/util.h"
#include "files/lists.h"
#include "files/recorder.h"
#include "files/snapshot.h"
#include "support/file_session.h"
#include "support/prefix_files.h"

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

class FileScenarioTest : public FileSessionTest {
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
        RemoveCreatedItems();
        for (const char* pszIni : {"\\win.ini", "\\system.ini"}) {
            if (!Exists(windows + pszIni))
                WriteTextFile(windows + pszIni, "[boot]\r\nshell=Explorer.exe\r\n");
            savedIni.push_back({windows + pszIni, ReadTextFile(windows + pszIni)});
        }
        WriteTextFile(programs + "\\Common Files\\acme-old.cfg", "old");
        WriteTextFile(system + "\\acme-gone.dll", "gone");
        WriteTextFile(system + "\\acme-shared.dat", "before");
    }

    void TearDown() override {
        if (szTempDir[0])
            RemoveTree(szTempDir);
        FileSessionTest::TearDown();
        for (const auto& [path, content] : savedIni)
            WriteTextFile(path, content);
        RemoveCreatedItems();
    }

    void RemoveCreatedItems() {
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
        for (std::string line; std::getline(changes, line);) {
            std::istringstream fields(line);
            std::string code, path, newPath;
            std::getline(std::getline(std::getline(fields, code, '|'), path, '|'), newPath);
            FeedChange(static_cast<uint32_t>(std::stoul(code)), path, newPath);
        }
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

    DEACTION* FirstOfKind(int iKind) {
        for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
            if (pact->wKind == iKind)
                return pact;
        }
        return nullptr;
    }

    std::string windows, system, programs, startMenu, desktop;
    std::vector<std::pair<std::string, std::string>> savedIni;
};

TEST_F(FileScenarioTest, SetupChangesBecomeTheExpectedActionsAndCautions) {
    RunSessionAroundSetup();
    std::string common = programs + "\\Common Files\\";
    std::string systemIni = windows + "\\system.ini";
    auto quoted = [](const char* pszWhat, const std::string& path) {
        return std::string(pszWhat) + " \"" + path + "\"";
    };
    std::vector<ActionView> expected = {
        {DEA_GROUP, 1, "Acme", "Group \"Acme\""},
        {DEA_ICON, 2, "Acme Help", "Icon \"Acme Help\" in group \"Programs\""},
        {DEA_ICON, 2, "Acme", "Icon \"Acme\" in desktop folder (\"Desktop\")"},
        {DEA_RESTORE, 3, systemIni, quoted("Changes to", systemIni)},
        {DEA_FOLDER, 4, programs + "\\Acme\\", quoted("Folder", programs + "\\Acme\\")},
        {DEA_FOLDER, 4, programs + "\\Acme\\Data\\", quoted("Folder", programs + "\\Acme\\Data\\")},
        {DEA_FILE, 5, LowerText(windows + "\\acme.ini"),
         quoted("File", LowerText(windows + "\\acme.ini"))},
        {DEA_FILE, 5, LowerText(system + "\\acme32.dll"),
         quoted("File", LowerText(system + "\\acme32.dll"))},
        {DEA_FILE, 6, common + "acme-old.bak", quoted("File", common + "acme-old.bak")},
        {DEA_FILE, 6, common + "AcmeShared.dll", quoted("File", common + "AcmeShared.dll")},
        {DEA_FILE, 6, windows + "\\inf\\acme.inf", quoted("File", windows + "\\inf\\acme.inf")},
    };
    EXPECT_EQ(OfferedActions(), expected);
    EXPECT_EQ(ActiveNames(Cautions),
              (std::vector<std::string>{
                  quoted("File", LowerText(system + "\\acme-gone.dll")) + " was deleted",
                  quoted("File", LowerText(system + "\\acme-shared.dat")) + " was altered"}));
    // The temporary name of a renamed file and a file deleted again stay
    // listed as removed; a file directly in the Windows folder never enters.
    for (const std::string& path : {programs + "\\Acme\\setup.tmp", common + "scratch.tmp"}) {
        NAMEITEM* pItem = FindName(NewFiles, path.c_str());
        ASSERT_NE(pItem, nullptr) << path;
        EXPECT_EQ(pItem->bActive, 0) << path;
    }
    EXPECT_EQ(FindName(NewFiles, (windows + "\\acme.ini").c_str()), nullptr);
}

TEST_F(FileScenarioTest, UndoRemovesGroupsAndIconsAndRestoresTheAlteredIni) {
    std::string before = ReadTextFile(windows + "\\system.ini");
    RunSessionAroundSetup();
    ASSERT_NE(ReadTextFile(windows + "\\system.ini"), before);
    std::vector<std::string> removed;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->wKind == DEA_GROUP || pact->wKind == DEA_ICON) {
            removed.push_back(static_cast<const char*>(pact->pExtra));
            EXPECT_EQ(pact->pfnUndo(pact), 1) << pact->pszDescription;
            EXPECT_FALSE(Exists(removed.back()));
        }
    }
    EXPECT_EQ(removed, (std::vector<std::string>{startMenu + "\\Programs\\Acme\\",
                                                 startMenu + "\\Programs\\Acme Help.lnk",
                                                 desktop + "\\Acme.lnk"}));
    DEACTION* pRestore = FirstOfKind(DEA_RESTORE);
    ASSERT_NE(pRestore, nullptr);
    EXPECT_EQ(pRestore->pfnUndo(pRestore), 1);
    EXPECT_EQ(ReadTextFile(windows + "\\system.ini"), before);
}

} // namespace
