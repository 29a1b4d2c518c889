// The temporary folder's base and name, and the recursive folder operations
// against real files of the test prefix.
#include "common/pathsearch.h"
#include "common/paths.h"
#include "common/guard.h"
#include "support/file_holder.h"
#include "support/hosted_test.h"
#include "support/prefix_files.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kTitle[] = "Tarnel Uninstaller";

constexpr const char* kTempVariables[] = {"ZAVUV", "TMP", "TEMP"};

class TempBaseTest : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* pszName : kTempVariables) {
            char szValue[MAX_PATH] = "";
            saved_.push_back(GetEnvironmentVariableA(pszName, szValue, sizeof szValue)
                                 ? std::optional<std::string>(szValue)
                                 : std::nullopt);
        }
    }
    void TearDown() override {
        for (int i = 0; i < 3; ++i)
            SetEnvironmentVariableA(kTempVariables[i], saved_[i] ? saved_[i]->c_str() : nullptr);
    }
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(TempBaseTest, FirstLocalAbsolutePathWithoutABlankIsTheBaseElseDriveC) {
    std::string overlong = "c:\\" + std::string(400, 't');
    struct Case {
        const char* apszValues[3];
        const char* pszBase;
    };
    for (const Case& c :
         {Case{{"D:\\My Temp", "E:\\TMP", nullptr}, "E:\\TMP\\"},
          Case{{"temp", "\\\\server\\temp", "c:\\windows\\temp\\"}, "c:\\windows\\temp\\"},
          Case{{overlong.c_str(), nullptr, "c:\\x/"}, "c:\\x\\"},
          Case{{nullptr, nullptr, nullptr}, "c:\\"}}) {
        for (int i = 0; i < 3; ++i)
            SetEnvironmentVariableA(kTempVariables[i], c.apszValues[i]);
        FindTempBase();
        EXPECT_STREQ(szTempBase, c.pszBase);
    }
    // The folder itself goes directly under the base: "tr" and a number.
    char szFolder[MAX_PATH + 16];
    ASSERT_EQ(CreateTempFolder(szFolder), 1);
    std::string name = szFolder;
    EXPECT_EQ(name.rfind("c:\\tr", 0), 0u);
    EXPECT_GE(name.size(), 6u);
    EXPECT_LE(name.size(), 10u);
    EXPECT_TRUE(RemoveDirectoryA(szFolder));
}

class FolderOperationsTest : public HostedTest {
  protected:
    ScratchFolder scratch{"paths"};
};

TEST_F(FolderOperationsTest, DeletesReadOnlyDotDeepAndNonAnsiFilesButLeavesDotFolders) {
    CreateDirectoryA((scratch / "tree").c_str(), nullptr);
    CreateDirectoryA((scratch / "tree\\sub").c_str(), nullptr);
    // Names outside the ANSI code page, which a search spells "?".
    std::string sub = scratch / "tree\\sub";
    std::wstring wide(sub.begin(), sub.end());
    CreateDirectoryW((wide + L"\\\u4e2d\u6587").c_str(), nullptr);
    CloseHandle(CreateFileW((wide + L"\\\u4e2d\u6587\\\u6587.txt").c_str(), GENERIC_WRITE, 0,
                            nullptr, CREATE_NEW, 0, nullptr));
    CreateDirectoryA((scratch / "tree\\.keep").c_str(), nullptr);
    WriteTextFile(scratch / "tree\\sub\\locked.txt", "x");
    SetFileAttributesA((scratch / "tree\\sub\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteTextFile(scratch / "tree\\.profile", "x");
    WriteTextFile(scratch / "tree\\.keep\\inside.txt", "x");
    // Nested folders whose full paths pass MAX_PATH characters.
    std::string deep = scratch / "tree\\sub";
    while (deep.size() < MAX_PATH + 40) {
        deep += "\\" + std::string(60, 'd');
        CreateDirectoryA(deep.c_str(), nullptr);
    }
    WriteTextFile(deep.substr(0, deep.rfind('\\')) + "\\f.txt", "x");

    EXPECT_EQ(DeleteFolderFiles((scratch / "tree").c_str()), 1);
    EXPECT_FALSE(Exists(scratch / "tree\\sub"));
    EXPECT_FALSE(Exists(scratch / "tree\\.profile"));
    EXPECT_TRUE(Exists(scratch / "tree\\.keep\\inside.txt"));
    EXPECT_NE(RemoveFolder((scratch / "tree").c_str()), 0);
}

TEST_F(FolderOperationsTest, FileHeldByAnotherProcessStopsTheDeleteWithAMessage) {
    std::string held = scratch / "held.dll";
    WriteTextFile(held, "x");
    {
        FileHolder holder(held);
        robot.ExpectBox(kTitle, "Could not delete file " + held, IDOK);
        EXPECT_EQ(DeleteFolderFiles(scratch.path().c_str()), 0);
        EXPECT_TRUE(Exists(held));
        EXPECT_EQ(GetFileAttributesA(held.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

        robot.ExpectBox(
            kTitle, "File " + held + " is in use by another process.  Cannot delete folder Acme",
            IDOK);
        EXPECT_EQ(FindFileInUse(scratch.path().c_str(), "Acme"), 1);
    }
    EXPECT_EQ(FindFileInUse(scratch.path().c_str(), "Acme"), 0);
}

// A search inside a scope answers from the folder's listing; for every kind of
// name it must report what the disk reports.
TEST_F(FolderOperationsTest, SearchesFromListingsAnswerAsTheDisk) {
    std::string longFolder = scratch / "Long Folder Name";
    CreateDirectoryA(longFolder.c_str(), nullptr);
    WriteTextFile(longFolder + "\\File.TXT", "x");
    WriteTextFile(scratch / "readme.txt", "x");
    WriteTextFile(scratch / "r\xE9sum\xE9.txt", "x");
    char szShort[MAX_PATH] = "";
    GetShortPathNameA(longFolder.c_str(), szShort, MAX_PATH);
    std::vector<std::string> paths = {
        longFolder,
        longFolder + "\\file.txt",
        longFolder + "\\FILE.TXT",
        longFolder + ".",
        longFolder + "\\missing.txt",
        scratch / "README.TXT",
        scratch / "read*",
        scratch / "readme.txt.",
        scratch / "none\\readme.txt",
        scratch / "R\xC9SUM\xC9.TXT",
        szShort,
        std::string(szShort) + "\\File.TXT",
    };
    std::vector<std::pair<bool, FoundEntry>> fromDisk;
    for (const std::string& path : paths) {
        FoundEntry entry;
        bool fFound = SearchPathEntry(path.c_str(), &entry);
        fromDisk.emplace_back(fFound, entry);
    }
    SearchScope searches;
    for (size_t i = 0; i < paths.size(); ++i) {
        FoundEntry entry;
        EXPECT_EQ(SearchPathEntry(paths[i].c_str(), &entry), fromDisk[i].first) << paths[i];
        EXPECT_EQ(entry.name, fromDisk[i].second.name) << paths[i];
        EXPECT_EQ(entry.dwAttributes, fromDisk[i].second.dwAttributes) << paths[i];
    }
}

TEST_F(FolderOperationsTest, DriveRootIsNeverEmptiedHoweverItIsWritten) {
    DWORD dwCode = 0;
    for (const char* pszRoot : {"c:\\", "C:\\.", "C:\\\\", "C:/", "c:\\windows\\..\\"}) {
        robot.ExpectBoxStartingWith(
            kTitle, "Attempt to delete ROOT dir.\nInternal Error in util line", IDOK);
        EXPECT_FALSE(Guarded([&] { DeleteFolderFiles(pszRoot); }, &dwCode)) << pszRoot;
        EXPECT_EQ(dwCode, static_cast<DWORD>(EXC_INTERNAL));
    }
    EXPECT_TRUE(Exists("C:\\windows"));
    for (const char* pszRoot : {"c:", "C:\\."}) {
        robot.ExpectBoxStartingWith(kTitle, "ROOT Dir Exception\nInternal Error in util line",
                                    IDOK);
        EXPECT_FALSE(Guarded([&] { FindFileInUse(pszRoot, "c:"); }, &dwCode)) << pszRoot;
    }
}

TEST_F(FolderOperationsTest, MissingPathsCountAsGone) {
    EXPECT_EQ(PathExists((scratch / "none").c_str()), 0);
    EXPECT_EQ(DeleteFileForce((scratch / "none").c_str()), 0);
    EXPECT_EQ(RemoveFolder((scratch / "none").c_str()), 0);
    EXPECT_EQ(PathExists("c:\\"), 0);
}

} // namespace
