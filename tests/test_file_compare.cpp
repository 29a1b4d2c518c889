// The comparison after setup: long names, the merge of the system folders,
// .ini contents against their backups, which new files and folders are
// offered, the verification, and groups and icons.
#include "actions/deaction.h"
#include "common/paths.h"
#include "files/lists.h"
#include "files/compare.h"
#include "files/verify.h"
#include "files/groups.h"
#include "files/recorder.h"
#include "monitor/protocol.h"
#include "session/session.h"
#include "support/file_session.h"
#include "support/prefix_files.h"

#include <shlobj.h>

#include <cstring>

namespace {

class CompareTest : public FileSessionTest {
  protected:
    void SetUp() override {
        FileSessionTest::SetUp();
        CreateDirectoryA(backup.path().c_str(), nullptr);
        lstrcpynA(szTempDir, backup.path().c_str(), sizeof szTempDir);
    }
    ScratchFolder scratch{"compare"};
    ScratchFolder backup{"compare-backup"};
};

TEST_F(CompareTest, LongPathTakesEveryNameFromTheDiskAndNeverOverrunsTheBuffer) {
    CreateDirectoryA((scratch / "Long Folder Name").c_str(), nullptr);
    WriteTextFile(scratch / "Long Folder Name\\Some File.txt", "x");
    char szLong[521];
    std::string lower = LowerText(scratch / "long folder name\\SOME FILE.TXT");
    ASSERT_GT(GetLongPath(lower.c_str(), szLong, sizeof szLong), 0u);
    EXPECT_EQ(std::string(szLong),
              "c:\\" + (scratch / "Long Folder Name\\Some File.txt").substr(3));
    std::string pattern = scratch / "LONG FOLDER NAME\\*.txt";
    ASSERT_GT(GetLongPath(pattern.c_str(), szLong, sizeof szLong), 0u);
    EXPECT_EQ(std::string(szLong), scratch / "Long Folder Name\\*.txt");
    EXPECT_EQ(GetLongPath((scratch / "absent.txt").c_str(), szLong, sizeof szLong), 0u);
    // A path of the platform's maximum length, into a buffer too small.
    std::string path = scratch.path();
    while (path.size() < MAX_PATH - 20) {
        path.append(1, '\\').append(12, 'd');
        CreateDirectoryA(path.c_str(), nullptr);
    }
    path += '\\';
    path.append(MAX_PATH - 1 - path.size(), 'f');
    WriteTextFile(path, "x");
    EXPECT_EQ(GetLongPath(path.c_str(), szLong, sizeof szLong), path.size());
    EXPECT_EQ(std::string(szLong), path);
    std::vector<char> small(120 + 8, '#');
    EXPECT_EQ(GetLongPath(path.c_str(), small.data(), 120), 0u);
    EXPECT_EQ(std::string(small.begin() + 120, small.end()), std::string(8, '#'));
}

TEST_F(CompareTest, SystemFolderMergeGivesNewFileActionsAndCautionsButKeepsMovedFiles) {
    // Setup moved the old library aside and wrote a new one.
    WriteTextFile(scratch / "theta.bak", "x");
    FeedChange(kOpRenamed, scratch / "theta.dll", scratch / "theta.bak");
    ResolveRecordedChanges();
    FILETIME t1{1, 0}, t2{2, 0};
    DWORD dwBefore = 0, dwAfter = 0;
    for (const char* pszName : {"a.dll", "gone.dll", "same.dll", "SYSTEM.DAT", "win.ini"})
        AddFileEntry(&WinBefore, pszName, 10, t1, &dwBefore);
    AddFileEntry(&WinAfter, "A.DLL", 11, t1, &dwAfter);
    AddFileEntry(&WinAfter, "new.dll", 10, t2, &dwAfter);
    AddFileEntry(&WinAfter, "same.dll", 10, t1, &dwAfter);
    AddFileEntry(&WinAfter, "system.dat", 10, t2, &dwAfter);
    AddFileEntry(&WinAfter, "theta.bak", 10, t1, &dwAfter);
    AddFileEntry(&WinAfter, "win.ini", 10, t2, &dwAfter);
    SortFileList(&WinBefore, dwBefore);
    SortFileList(&WinAfter, dwAfter);
    std::string folder = LowerText(scratch / "");
    AddFileEntry(&BackupList, (scratch / "WIN.INI").c_str(), 10, t1, nullptr);
    EXPECT_EQ(CompareFolderLists(WinBefore, WinAfter, folder.c_str()), 1);
    EXPECT_EQ(OfferedActions(), (std::vector<ActionView>{{DEA_FILE, 5, folder + "new.dll",
                                                          "File \"" + folder + "new.dll\""}}));
    EXPECT_EQ(
        ActiveNames(Cautions),
        (std::vector<std::string>{"File \"" + folder + "a.dll\" was altered",
                                  "File \"" + folder + "gone.dll\" was deleted",
                                  "File \"" + scratch / "theta.bak\" was renamed by setup from \"" +
                                      scratch / "theta.dll\" and is kept"}));
}

TEST_F(CompareTest, OnlyNewFilesOutsideNewFoldersBackupsAndTheRecycleFolderAreOfferedOnce) {
    for (const char* pszFolder : {"NEW", "NEWER", "NEW\\Long Folder"})
        CreateDirectoryA((scratch / pszFolder).c_str(), nullptr);
    for (const char* pszFile : {"NEW\\in.txt", "NEWER\\A.TXT", "NEWER\\Long Name.txt",
                                "TREEINFO.NCD", "x.qab", "kept.ini"})
        WriteTextFile(scratch / pszFile, "x");
    // Short and long spellings of one folder and of one file.
    for (const char* pszItem : {"NEW\\Long Folder\\", "NEWER\\Long Name.txt"}) {
        char szShort[MAX_PATH];
        ASSERT_NE(GetShortPathNameA((scratch / pszItem).c_str(), szShort, MAX_PATH), 0u);
        NAMEITEM** ppList = std::strchr(pszItem, '.') ? &NewFiles : &NewFolders;
        AddName(ppList == &NewFiles ? 4 : 3, ppList, szShort);
        AddName(ppList == &NewFiles ? 4 : 3, ppList, (scratch / pszItem).c_str());
    }
    std::string lower = scratch.path();
    CharLowerA(lower.data());
    AddName(3, &NewFolders, (lower + "\\new\\").c_str());
    for (const char* pszFile :
         {"\\new\\in.txt", "\\newer\\a.txt", "\\treeinfo.ncd", "\\x.qab", "\\kept.ini"})
        AddName(4, &NewFiles, (lower + pszFile).c_str());
    AddName(4, &NewFiles, "C:\\RECYCLED\\deleted.txt");
    AddFileEntry(&BackupList, (scratch / "KEPT.INI").c_str(), 1, FILETIME{}, nullptr);
    CompareFiles();
    // The backed-up file is restored (its time differs), never deleted.
    std::string kept = scratch / "KEPT.INI";
    EXPECT_EQ(OfferedActions(),
              (std::vector<ActionView>{
                  {DEA_RESTORE, 3, kept, "Changes to \"" + kept + "\""},
                  {DEA_FOLDER, 4, scratch / "NEW\\", "Folder \"" + scratch / "NEW\\\""},
                  {DEA_FOLDER, 4, scratch / "NEW\\Long Folder\\",
                   "Folder \"" + scratch / "NEW\\Long Folder\\\""},
                  {DEA_FILE, 6, scratch / "NEWER\\A.TXT", "File \"" + scratch / "NEWER\\A.TXT\""},
                  {DEA_FILE, 6, scratch / "NEWER\\Long Name.txt",
                   "File \"" + scratch / "NEWER\\Long Name.txt\""}}));
    EXPECT_EQ(ActiveNames(NewFiles),
              (std::vector<std::string>{scratch / "NEWER\\A.TXT", scratch / "NEWER\\Long Name.txt",
                                        scratch / "TREEINFO.NCD", scratch / "x.qab"}));
}

TEST_F(CompareTest, ChangedBackupsBecomeRestoresUnlessAnIniKeptItsBytes) {
    std::string same = scratch / "same.ini", changed = scratch / "changed.ini",
                untouched = scratch / "untouched.ini", gone = scratch / "gone.ini",
                empty = scratch / "empty.ini";
    for (const std::string& path : {same, changed, untouched, empty}) {
        const char* pszContent = path == empty ? "" : "[s]\r\n";
        WriteTextFile(path, pszContent);
        WriteTextFile(backup / path.substr(path.rfind('\\') + 1), pszContent);
    }
    FILETIME ftOld{1, 1};
    for (const std::string& path : {same, changed, gone})
        AddFileEntry(&BackupList, path.c_str(), 5, ftOld, nullptr);
    AddFileEntry(&BackupList, empty.c_str(), 0, ftOld, nullptr); // cannot be mapped
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(untouched.c_str(), GetFileExInfoStandard, &data);
    AddFileEntry(&BackupList, untouched.c_str(), 5, data.ftLastWriteTime, nullptr);
    WriteTextFile(changed, "[t]\r\n");
    CompareFiles();
    EXPECT_EQ(OfferedActions(), (std::vector<ActionView>{
                                    {DEA_RESTORE, 3, empty, "Changes to \"" + empty + "\""},
                                    {DEA_RESTORE, 3, changed, "Changes to \"" + changed + "\""}}));
}

TEST_F(CompareTest, VerificationDropsRootsProtectedAndVanishedItems) {
    LoadProtectedFolders();
    std::string system = SysDir;
    CharUpperA(system.data());
    char szPrograms[MAX_PATH] = "";
    DWORD cb = sizeof szPrograms;
    RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                 "ProgramFilesDir", RRF_RT_REG_SZ, nullptr, szPrograms, &cb);
    CreateDirectoryA((scratch / "App").c_str(), nullptr);
    WriteTextFile(scratch / "App\\app.exe", "x");
    for (const std::string& folder : {std::string("C:\\"), system, std::string(szPrograms) + "\\",
                                      scratch / "Vanished\\", scratch / "App\\"})
        AddFolderAction(folder);
    for (const std::string& file : {scratch / "App\\app.exe", scratch / "App\\gone.exe"})
        AddFileAction(file);
    VerifyNewItems();
    std::vector<std::string> offered;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (!pact->fDone)
            offered.push_back(pact->szObject);
    }
    EXPECT_EQ(offered, (std::vector<std::string>{scratch / "App\\", scratch / "App\\app.exe"}));
}

TEST_F(CompareTest, ItemsInsideStartMenuAndDesktopBecomeGroupsAndIcons) {
    std::string startMenu = SpecialFolderPath(CSIDL_STARTMENU);
    std::string desktop = SpecialFolderPath(CSIDL_DESKTOPDIRECTORY);
    AddFolderAction(startMenu + "\\Programs\\Acme\\");
    AddFolderAction(startMenu + " Extra\\");
    AddFolderAction(desktop + "\\");
    AddFileAction(desktop + " Extra\\Tool.lnk");
    AddFileAction(startMenu + "\\.profile");
    AddFileAction(desktop + "\\Tool.lnk");
    AddFileAction(scratch / "Tool.lnk");
    DEACTION* pDone = AddFileAction(startMenu + "\\Programs\\Done.lnk");
    pDone->fDone = 1;
    CheckGroupsAndIcons();
    SortActionList();
    EXPECT_EQ(
        OfferedActions(),
        (std::vector<ActionView>{
            {DEA_GROUP, 1, "Acme", "Group \"Acme\""},
            {DEA_ICON, 2, ".profile", "Icon \".profile\" in group \"Start Menu\""},
            {DEA_ICON, 2, "Tool", "Icon \"Tool\" in desktop folder (\"Desktop\")"},
            {DEA_FOLDER, 4, startMenu + " Extra\\", "Folder \"" + startMenu + " Extra\\\""},
            {DEA_FOLDER, 4, desktop + "\\", "Folder \"" + desktop + "\\\""},
            {DEA_FILE, 6, desktop + " Extra\\Tool.lnk", "File \"" + desktop + " Extra\\Tool.lnk\""},
            {DEA_FILE, 6, scratch / "Tool.lnk", "File \"" + scratch / "Tool.lnk\""},
        }));
    EXPECT_EQ(pDone->wKind, DEA_FILE); // a done action is never reclassified
    DEACTION* pGroup = pActionList;
    EXPECT_STREQ(static_cast<const char*>(pGroup->pExtra),
                 (startMenu + "\\Programs\\Acme\\").c_str());
}

TEST_F(CompareTest, MissingFolderValueEndsTheSessionStart) {
    HKEY hKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                            KEY_ALL_ACCESS, &hKey),
              ERROR_SUCCESS);
    char szMedia[MAX_PATH] = "";
    DWORD cb = sizeof szMedia;
    ASSERT_EQ(RegQueryValueExA(hKey, "MediaPath", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(szMedia), &cb),
              ERROR_SUCCESS);
    RegDeleteValueA(hKey, "MediaPath");
    robot.ExpectBoxStartingWith(
        "Tarnel Uninstaller",
        "Unable to Locate folder value in Registry.\nInternal Error in File line ", IDOK);
    EXPECT_EQ(pre_setup_save(host.hwnd(), host.status()), FALSE);
    RegSetValueExA(hKey, "MediaPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(szMedia), cb);
    RegCloseKey(hKey);
    EXPECT_EQ(fInSession, 0);
    EXPECT_EQ(already_running(), 0);
}

TEST_F(CompareTest, AFaultInOneStageIsReportedAndTheNextStagesStillRun) {
    WriteTextFile(scratch / "new.txt", "x");
    AddName(4, &NewFiles, (scratch / "new.txt").c_str());
    // A backup list whose second entry lies at an address nobody can read.
    DIRFILE* pDamaged =
        AddFileEntry(&BackupList, (scratch / "a.ini").c_str(), 1, FILETIME{}, nullptr);
    pDamaged->pNext = reinterpret_cast<DIRFILE*>(static_cast<uintptr_t>(0x10));
    const char* pszReport = "Tarnel Uninstaller has detected internal exception ";
    robot.ExpectBoxStartingWith("Tarnel Uninstaller", std::string(pszReport) + "9 in File line ",
                                IDYES);
    robot.ExpectBoxStartingWith("Tarnel Uninstaller", std::string(pszReport) + "13 in File line ",
                                IDYES);
    CompareFiles();
    pDamaged->pNext = nullptr;
    EXPECT_EQ(OfferedActions(), (std::vector<ActionView>{{DEA_FILE, 6, scratch / "new.txt",
                                                          "File \"" + scratch / "new.txt\""}}));
}

} // namespace
