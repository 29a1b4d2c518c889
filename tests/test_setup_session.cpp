// A whole monitored session around a real setup program: what it did to
// Program Files, the Windows folder and its subfolders, the system folder,
// the Start Menu and the Desktop comes back from the monitor alone as exactly
// the expected undo actions and cautions; the user unticks one file in the
// tree form and uninstalls, and afterwards the prefix's files are as before
// setup, except that file and the changes listed as cautions.
#include "actions/deaction.h"
#include "common/paths.h"
#include "files/lists.h"
#include "monitor/monitor.h"
#include "resources/resource.h"
#include "session/exports.h"
#include "support/dialog_script.h"
#include "support/dialog_session.h"
#include "support/file_session.h"
#include "support/monitor_wait.h"
#include "support/prefix_files.h"

#include <shlobj.h>

#include <fstream>
#include <map>

namespace {

using Listing = std::map<std::string, DWORD>; // lower-case path -> size

// The entries in which two listings differ, for a readable failure.
std::vector<std::string> Differences(const Listing& actual, const Listing& expected) {
    std::vector<std::string> lines;
    for (const auto& [path, size] : actual) {
        auto it = expected.find(path);
        if (it == expected.end() || it->second != size)
            lines.push_back("found " + path + " " + std::to_string(size));
    }
    for (const auto& [path, size] : expected) {
        if (!actual.count(path))
            lines.push_back("missing " + path);
    }
    return lines;
}

void ListTree(const std::string& folder, Listing* pListing) {
    WIN32_FIND_DATAA find;
    HANDLE hFind = FindFirstFileA((folder + "\\*").c_str(), &find);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = find.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = LowerText(folder + "\\" + name);
        if (find.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*pListing)[path + "\\"] = 0;
            ListTree(folder + "\\" + name, pListing);
        } else {
            (*pListing)[path] = find.nFileSizeLow;
        }
    } while (FindNextFileA(hFind, &find));
    FindClose(hFind);
}

std::string FolderValue(const char* pszValue) {
    char szPath[MAX_PATH] = "";
    DWORD cb = sizeof szPath;
    RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", pszValue,
                 RRF_RT_REG_SZ, nullptr, szPath, &cb);
    return szPath;
}

std::string Quoted(const char* pszWhat, const std::string& path) {
    return std::string(pszWhat) + " \"" + path + "\"";
}

// What the dialog was opened with, read while it is open.
struct Offered {
    std::vector<ActionView> fileActions;
    std::vector<std::string> cautions;
    std::vector<std::string> removedNewFiles;
    bool fWindowsIniListed = true;
    std::string backupFolder;
};

class SetupSessionTest : public HostedTest {
  protected:
    void SetUp() override {
        HostedTest::SetUp();
        windows = WithoutBackslash(session.WindowsFolder());
        char szSystem[MAX_PATH];
        GetSystemDirectoryA(szSystem, sizeof szSystem);
        system = szSystem;
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
        RemoveSetupFiles();
        // What setup deletes, renames or alters.
        WriteTextFile(programs + "\\Common Files\\acme-old.cfg", "old");
        WriteTextFile(system + "\\acme-gone.dll", "gone");
        WriteTextFile(system + "\\acme-shared.dat", "before");
    }
    void TearDown() override {
        script.Join();
        post_setup_cleanup();
        HostedTest::TearDown();
        for (const auto& [path, content] : savedIni)
            WriteTextFile(path, content);
        RemoveSetupFiles();
    }
    static std::string WithoutBackslash(std::string path) {
        path.pop_back();
        return path;
    }
    void RemoveSetupFiles() {
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
    Listing PrefixFiles() {
        Listing listing;
        for (const std::string& folder : {programs, windows, startMenu, desktop})
            ListTree(folder, &listing);
        return listing;
    }
    // Runs the setup helper, which logs each change it makes; returns how
    // many it made.
    size_t RunSetup() {
        ScratchFolder logFolder("setup-session-log");
        std::string log = logFolder / "changes.log";
        EXPECT_EQ(RunProgram(BuildPath("fake_setup.exe") + " \"" + log + "\" \"" + programs +
                             "\" \"" + startMenu + "\" \"" + desktop + "\""),
                  0u);
        size_t cChanges = 0;
        std::ifstream changes(log);
        for (std::string line; std::getline(changes, line);)
            ++cChanges;
        return cChanges;
    }

    std::string windows, system, programs, startMenu, desktop;
    std::vector<std::pair<std::string, std::string>> savedIni;
    DialogScript script{robot};
    DialogSession session{host};
};

TEST_F(SetupSessionTest, MonitoredSetupIsOfferedExactlyAndUndoneButTheUntickedFile) {
    session.ChooseForm("1");
    std::string systemIniBefore = ReadTextFile(windows + "\\system.ini");
    Listing expected = PrefixFiles();
    // Made before the session starts: never part of what setup did.
    ASSERT_TRUE(CreateDirectoryA((programs + "\\AcmeEarly").c_str(), nullptr));
    expected[LowerText(programs + "\\AcmeEarly\\")] = 0;
    ASSERT_TRUE(pre_setup_save(host.hwnd(), host.status()));
    DWORD dwBefore = MonitorRecordsHandedOver();
    size_t cChanges = RunSetup();
    // Every logged change and the log's own creation and deletion; other
    // processes of the prefix may add records of their own meanwhile.
    ASSERT_TRUE(WaitForHandedOver(dwBefore + static_cast<DWORD>(cChanges) + 2));
    ASSERT_NE(ReadTextFile(windows + "\\system.ini"), systemIniBefore);

    const std::string kept = windows + "\\inf\\acme.inf";
    Offered offered;
    script.Expect("Uninstall", [&](HWND hDlg) {
        for (const ActionView& action : OfferedActions()) {
            if (action.iKind != DEA_REGISTRY)
                offered.fileActions.push_back(action);
        }
        offered.cautions = ActiveNames(Cautions);
        // The temporary name of a renamed file and a file deleted again stay
        // listed as removed; a file directly in the Windows folder never enters.
        for (const std::string& path :
             {programs + "\\Acme\\setup.tmp", programs + "\\Common Files\\scratch.tmp"}) {
            NAMEITEM* pItem = FindName(NewFiles, path.c_str());
            if (pItem && !pItem->bActive)
                offered.removedNewFiles.push_back(path);
        }
        offered.fWindowsIniListed = FindName(NewFiles, (windows + "\\acme.ini").c_str());
        offered.backupFolder = szTempDir;
        Settle(hDlg);
        PressButton(hDlg, IDC_SELECT_ALL);
        Settle(hDlg);
        HWND hTree = GetDlgItem(hDlg, IDC_ITEM_TREE);
        HTREEITEM hFiles = FindTreeItem(hTree, nullptr, "File Changes");
        ClickTreeItem(hTree, FindTreeItem(hTree, hFiles, Quoted("File", kept)),
                      TVHT_ONITEMSTATEICON);
        PressButton(hDlg, IDOK);
    });
    for (const std::string& folder : {programs + "\\Acme\\", programs + "\\Acme\\Data\\"})
        robot.ExpectBoxStartingWith("Tarnel Uninstaller",
                                    "You have chosen to delete the folder " + folder, IDYES);
    EXPECT_EQ(post_setup_uninstall(host.hwnd(), host.status()), 0);
    script.Join();

    std::string common = programs + "\\Common Files\\";
    std::string systemIni = windows + "\\system.ini";
    std::vector<ActionView> expectedActions = {
        {DEA_GROUP, 1, "Acme", "Group \"Acme\""},
        {DEA_ICON, 2, "Acme Help", "Icon \"Acme Help\" in group \"Programs\""},
        {DEA_ICON, 2, "Acme", "Icon \"Acme\" in desktop folder (\"Desktop\")"},
        {DEA_RESTORE, 3, systemIni, Quoted("Changes to", systemIni)},
        {DEA_FOLDER, 4, programs + "\\Acme\\", Quoted("Folder", programs + "\\Acme\\")},
        {DEA_FOLDER, 4, programs + "\\Acme\\Data\\", Quoted("Folder", programs + "\\Acme\\Data\\")},
        {DEA_FILE, 5, LowerText(windows + "\\acme.ini"),
         Quoted("File", LowerText(windows + "\\acme.ini"))},
        {DEA_FILE, 5, LowerText(system + "\\acme32.dll"),
         Quoted("File", LowerText(system + "\\acme32.dll"))},
        {DEA_FILE, 6, common + "AcmeShared.dll", Quoted("File", common + "AcmeShared.dll")},
        {DEA_FILE, 6, kept, Quoted("File", kept)},
    };
    EXPECT_EQ(offered.fileActions, expectedActions);
    EXPECT_EQ(
        offered.cautions,
        (std::vector<std::string>{
            Quoted("File", common + "acme-old.bak") +
                Quoted(" was renamed by setup from", common + "acme-old.cfg") + " and is kept",
            Quoted("File", LowerText(system + "\\acme-gone.dll")) + " was deleted",
            Quoted("File", LowerText(system + "\\acme-shared.dat")) + " was altered"}));
    EXPECT_EQ(offered.removedNewFiles.size(), 2u);
    EXPECT_FALSE(offered.fWindowsIniListed);
    EXPECT_FALSE(offered.backupFolder.empty());
    EXPECT_FALSE(Exists(offered.backupFolder));

    // Afterwards: as before setup, with the kept file and what cannot be
    // undone: the cautions, among them the file from before setup that setup
    // renamed, which keeps its new name.
    expected.erase(LowerText(common + "acme-old.cfg"));
    expected[LowerText(common + "acme-old.bak")] = sizeof "old" - 1;
    expected.erase(LowerText(system + "\\acme-gone.dll"));
    expected[LowerText(system + "\\acme-shared.dat")] = sizeof "changed by setup" - 1;
    expected[LowerText(kept)] = static_cast<DWORD>(ReadTextFile(kept).size());
    EXPECT_EQ(Differences(PrefixFiles(), expected), std::vector<std::string>{});
    EXPECT_EQ(ReadTextFile(systemIni), systemIniBefore);
}

} // namespace
