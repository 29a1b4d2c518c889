// Confirm and undo procedures of folder, file, group, icon and restore
// actions against real files of the prefix: read-only files, files held by
// another process, a folder that is the current directory, and restores
// from the backup folder.
#include "actions/confirm.h"
#include "actions/undo.h"
#include "common/strings.h"
#include "common/paths.h"
#include "files/backup.h"
#include "support/file_holder.h"
#include "support/file_session.h"
#include "support/prefix_files.h"

#include <cstring>
#include <string>

namespace {

constexpr char kTitle[] = "Tarnel Uninstaller";

class UndoActionTest : public FileSessionTest {
  protected:
    void SetUp() override {
        FileSessionTest::SetUp();
        GetCurrentDirectoryA(MAX_PATH, szSavedFolder);
        CreateDirectoryA(backup.path().c_str(), nullptr);
        lstrcpynA(szTempDir, backup.path().c_str(), sizeof szTempDir);
    }
    void TearDown() override {
        SetCurrentDirectoryA(szSavedFolder);
        FileSessionTest::TearDown();
    }

    static DEACTION* AddRestore(const std::string& path) {
        return AddAction(DEA_RESTORE, 3, "Changes to \"%s\"", path.c_str(), ConfirmSkipRestore,
                         UndoRestoreFile, path.c_str(), nullptr);
    }

    ScratchFolder scratch{"undo"};
    ScratchFolder backup{"undo-backup"};
    char szSavedFolder[MAX_PATH];
};

TEST_F(UndoActionTest, ReadOnlyFileIsDeletedAndOneAlreadyGoneIsMarkedDone) {
    std::string path = scratch / "locked.txt";
    WriteTextFile(path, "x");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    for (const std::string& file : {path, scratch / "never-there.txt"}) {
        DEACTION* pact = AddFileAction(file);
        pact->fSelected = 1;
        EXPECT_EQ(pact->pfnConfirm(pact), IDOK) << file;
        EXPECT_EQ(pact->fDone, file == path ? 0u : 1u) << file;
        EXPECT_EQ(pact->pfnUndo(pact), 1) << file;
    }
    EXPECT_FALSE(Exists(path));
}

TEST_F(UndoActionTest, FileHeldByAnotherProcessStopsTheUninstallAndIsNotDeleted) {
    std::string path = scratch / "held.dll";
    WriteTextFile(path, "x");
    DEACTION* pact = AddFileAction(path);
    pact->fSelected = 1;
    FileHolder holder(path);
    robot.ExpectBox(kTitle, "File " + path + " is in use and cannot be deleted.", IDOK);
    EXPECT_EQ(pact->pfnConfirm(pact), IDNO);
    // Carried out anyway, the deletion fails and says so by its result.
    EXPECT_EQ(pact->pfnUndo(pact), 0);
    EXPECT_TRUE(Exists(path));
}

TEST_F(UndoActionTest, SkippedRestoreWithAChosenDeletionAsksAndNoStops) {
    std::string ini = scratch / "win.ini";
    DEACTION* pRestore = AddRestore(ini);
    DEACTION* pFile = AddFileAction(scratch / "x.txt");
    pFile->fSelected = 1;
    std::string question = "You have choosen not to restore " + ini +
                           ", but have choosen to delete one or more folders or files.  This can "
                           "result in an incorrect configuration.  Do you want to continue?";
    robot.ExpectBox(kTitle, question, IDNO);
    EXPECT_EQ(pRestore->pfnConfirm(pRestore), IDNO);
    robot.ExpectBox(kTitle, question, IDYES);
    EXPECT_EQ(pRestore->pfnConfirm(pRestore), IDYES);
    pRestore->fSelected = 1;
    EXPECT_EQ(pRestore->pfnConfirm(pRestore), IDOK);
}

TEST_F(UndoActionTest, FolderDeletionAsksAndRefusesWhileAFileInsideIsHeld) {
    std::string folder = scratch / "App\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "Sub").c_str(), nullptr);
    WriteTextFile(folder + "Sub\\busy.dat", "x");
    DEACTION* pact = AddFolderAction(folder);
    pact->fSelected = 1;
    std::string question = "You have chosen to delete the folder " + folder +
                           " and all files and subfolder it contains.  If you are not sure you "
                           "want to continue you can use the Explorer to check the files.\n\r\n\r"
                           "Delete folder?";
    robot.ExpectBox(kTitle, question, IDNO);
    EXPECT_EQ(pact->pfnConfirm(pact), IDNO);
    robot.ExpectBox(kTitle, question, IDYES);
    EXPECT_EQ(pact->pfnConfirm(pact), IDYES);
    {
        FileHolder holder(folder + "Sub\\busy.dat");
        robot.ExpectBox(kTitle, question, IDYES);
        robot.ExpectBox(kTitle,
                        "File " + folder +
                            "Sub\\busy.dat is in use by another process.  Cannot "
                            "delete folder " +
                            folder,
                        IDOK);
        EXPECT_EQ(pact->pfnConfirm(pact), IDNO);
    }
}

// Links inside a folder that setup made lead to what is not setup's: neither
// the in-use search nor the deletion goes through them, and only the links go.
TEST_F(UndoActionTest, LinksInsideADeletedFolderAreRemovedAndNeverFollowed) {
    std::string folder = scratch / "App\\", outside = scratch / "Outside";
    std::string kept = outside + "\\keep.txt";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA(outside.c_str(), nullptr);
    WriteTextFile(kept, "kept");
    WriteTextFile(folder + "setup.txt", "x");
    if (!MakeUnixLink(outside, folder + "Data") || !MakeUnixLink(kept, folder + "keep.lnk"))
        GTEST_SKIP() << "this build makes no Unix links";
    DEACTION* pact = AddFolderAction(folder);
    pact->fSelected = 1;
    {
        FileHolder holder(kept);
        robot.ExpectBoxStartingWith(kTitle, "You have chosen to delete the folder " + folder,
                                    IDYES);
        EXPECT_EQ(pact->pfnConfirm(pact), IDYES);
    }
    EXPECT_EQ(pact->pfnUndo(pact), 1);
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(ReadTextFile(kept), "kept");
}

TEST_F(UndoActionTest, FolderThatIsTheCurrentDirectoryIsRemovedWithItsContent) {
    std::string folder = scratch / "Current";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\Deep").c_str(), nullptr);
    WriteTextFile(folder + "\\Deep\\f.txt", "x");
    WriteTextFile(folder + "\\ro.txt", "x");
    SetFileAttributesA((folder + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    DEACTION* pact = AddFolderAction(folder + "\\");
    EXPECT_EQ(pact->pfnUndo(pact), 1);
    EXPECT_FALSE(Exists(folder));
    // The first removal fails while the folder is current; the second one
    // follows the move to its parent.
    char szNow[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, szNow);
    EXPECT_EQ(CompareNoCase(szNow, scratch.path().c_str()), 0) << szNow;
}

TEST_F(UndoActionTest, RestorePutsTheBackupCopyBackAndRegDatGivesItsTimesToTheCopy) {
    std::string ini = scratch / "acme.ini", regDat = scratch / "REG.DAT";
    WriteTextFile(backup / "acme.ini", "[acme]\r\nkey=original\r\n");
    WriteTextFile(ini, "[acme]\r\nkey=changed\r\n");
    WriteTextFile(backup / "REG.DAT", "registry before setup");
    WriteTextFile(regDat, "registry after setup");
    // The backup copy carries times of long ago, unlike the live file.
    FILETIME ftBefore{0x5C3E0000, 0x01BE3000};
    HANDLE hCopy = CreateFileA((backup / "REG.DAT").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(SetFileTime(hCopy, &ftBefore, nullptr, &ftBefore));
    CloseHandle(hCopy);
    for (const std::string& path : {ini, regDat}) {
        DEACTION* pact = AddRestore(path);
        EXPECT_EQ(pact->pfnUndo(pact), 1) << path;
    }
    EXPECT_EQ(ReadTextFile(ini), "[acme]\r\nkey=original\r\n");
    EXPECT_EQ(ReadTextFile(regDat), "registry before setup");
    auto times = [](const std::string& path) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
        return data;
    };
    WIN32_FILE_ATTRIBUTE_DATA restored = times(regDat), backupCopy = times(backup / "REG.DAT");
    EXPECT_EQ(CompareFileTime(&restored.ftLastWriteTime, &backupCopy.ftLastWriteTime), 0);
    EXPECT_EQ(CompareFileTime(&restored.ftCreationTime, &backupCopy.ftCreationTime), 0);
}

} // namespace
