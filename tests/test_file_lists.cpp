// Directory lists of one folder, the sorted name lists with their removed
// entries, and the path helpers of the file snapshot.
#include "common/strings.h"
#include "common/paths.h"
#include "files/backup.h"
#include "files/lists.h"
#include "support/file_session.h"
#include "support/prefix_files.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

class DirectoryListTest : public FileSessionTest {
  protected:
    void TearDown() override {
        FreeFileList(&pList);
        FileSessionTest::TearDown();
    }
    ScratchFolder scratch{"dirlist"};
    DIRFILE* pList = nullptr;
};

TEST_F(DirectoryListTest, ListsFilesOnlyWithoutGroupFilesSortedIgnoringCase) {
    CreateDirectoryA((scratch / "Sub").c_str(), nullptr);
    for (const char* pszName : {"b.txt", "A.txt", "PROGRAMS.GRP", ".grp", "c.TXT", "Sub\\x.grp"})
        WriteTextFile(scratch / pszName, "x");
    DWORD dwCount = 0;
    EXPECT_EQ(ListFolderFiles(scratch.path().c_str(), &pList, &dwCount), 1);
    EXPECT_EQ(dwCount, 4u);
    SortFileList(&pList, dwCount);
    std::vector<std::string> names;
    for (DIRFILE* pEntry = pList; pEntry; pEntry = pEntry->pNext)
        names.push_back(pEntry->szName);
    EXPECT_EQ(names, (std::vector<std::string>{".grp", "A.txt", "b.txt", "c.TXT"}));
    FreeFileList(&pList);
    // A folder with nothing but a group file, and a missing one, give nothing.
    for (const char* pszFolder : {"Sub\\", "Missing"}) {
        dwCount = 7;
        EXPECT_EQ(ListFolderFiles((scratch / pszFolder).c_str(), &pList, &dwCount), 1);
        EXPECT_EQ(dwCount, 0u) << pszFolder;
        SortFileList(&pList, dwCount);
        EXPECT_EQ(pList, nullptr) << pszFolder;
    }
}

TEST_F(DirectoryListTest, LowerPathJoinsWithOneBackslashAndNeverOverruns) {
    char szPath[kLowerPathChars];
    EXPECT_STREQ(BuildLowerPath("C:\\WINDOWS\\", "Win.INI", szPath), "c:\\windows\\win.ini");
    EXPECT_STREQ(BuildLowerPath("C:\\Temp/", "A", szPath), "c:\\temp\\a");
    EXPECT_STREQ(BuildLowerPath("C:\\Temp", "A", szPath), "c:\\temp\\a");
    std::string longFolder = "C:\\" + std::string(400, 'F');
    std::string longName(400, 'N');
    std::vector<char> guarded(kLowerPathChars + 16, '#');
    BuildLowerPath(longFolder.c_str(), longName.c_str(), guarded.data());
    EXPECT_EQ(std::strlen(guarded.data()), static_cast<size_t>(kLowerPathChars - 1));
    EXPECT_EQ(guarded[kLowerPathChars], '#');
}

TEST_F(DirectoryListTest, BackupOfAReadOnlyFileCopiesAndRecordsItKeepingItsWriteTime) {
    ScratchFolder copies("dirlist-backup");
    lstrcpynA(szTempDir, copies.path().c_str(), sizeof szTempDir);
    std::string ini = scratch / "Win.ini";
    WriteTextFile(ini, "[windows]\r\n");
    SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    WIN32_FILE_ATTRIBUTE_DATA before{};
    GetFileAttributesExA(ini.c_str(), GetFileExInfoStandard, &before);
    EXPECT_EQ(BackupFile(scratch.path().c_str(), "Win.ini"), 1);
    EXPECT_EQ(ReadTextFile(copies / "Win.ini"), "[windows]\r\n");
    ASSERT_NE(BackupList, nullptr);
    EXPECT_STREQ(BackupList->szName, ini.c_str());
    EXPECT_EQ(BackupList->dwSize, 11u);
    WIN32_FILE_ATTRIBUTE_DATA after{};
    GetFileAttributesExA(ini.c_str(), GetFileExInfoStandard, &after);
    EXPECT_NE(after.dwFileAttributes & FILE_ATTRIBUTE_ARCHIVE, 0u);
    EXPECT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);
    EXPECT_EQ(CompareFileTime(&BackupList->ftWrite, &after.ftLastWriteTime), 0);
    EXPECT_EQ(BackupFile(scratch.path().c_str(), "absent.ini"), 0);
    EXPECT_EQ(BackupList->pNext, nullptr);
}

class NameListTest : public testing::Test {
  protected:
    void TearDown() override {
        FreeNameList(&pList);
        FreeNameList(&pOther);
    }
    NAMEITEM* pList = nullptr;
    NAMEITEM* pOther = nullptr;
};

TEST_F(NameListTest, RemovedNameStaysLinkedAndComesBackActive) {
    AddName(4, &pList, "x");
    AddName(4, &pList, "y");
    EXPECT_EQ(RemoveName(&pList, "X"), 1);
    EXPECT_EQ(RemoveName(&pList, "z"), 0);
    EXPECT_EQ(ListedNames(pList), (std::vector<std::string>{"-x", "y"}));
    ASSERT_NE(FindName(pList, "x"), nullptr);
    AddName(4, &pList, "X");
    EXPECT_EQ(ListedNames(pList), (std::vector<std::string>{"x", "y"}));
}

TEST_F(NameListTest, OverlongNamesAreCutToTheirField) {
    std::string name(700, 'n');
    NAMEITEM* pItem = AddName(4, &pList, name.c_str());
    EXPECT_EQ(std::strlen(pItem->szName), static_cast<size_t>(kNameItemChars - 1));
    EXPECT_EQ(AddName(4, &pList, name.c_str()), pItem);
    EXPECT_EQ(FindName(pList, name.c_str()), nullptr);
}

TEST_F(NameListTest, RenamedEntriesAreFoundUnderTheirNewNamesWhateverTheOrder) {
    AddName(4, &pList, "c:\\a~1\\x");
    AddName(4, &pList, "c:\\b\\y");
    AddName(4, &pList, "c:\\c\\z");
    NAMEITEM* pFirst = pList;
    RenameNameItem(&pList, pFirst, "C:\\Zed\\x"); // now out of order
    EXPECT_EQ(FindName(pList, "c:\\zed\\X"), pFirst);
    EXPECT_EQ(FindName(pList, "c:\\a~1\\x"), nullptr);
    AddName(4, &pList, "c:\\bb\\w");
    // Inserted where a walk from the head meets the first greater name.
    EXPECT_EQ(ListedNames(pList),
              (std::vector<std::string>{"c:\\bb\\w", "C:\\Zed\\x", "c:\\b\\y", "c:\\c\\z"}));
    NAMEITEM* pRenamed = pList->pNext;
    EXPECT_EQ(RemoveName(&pList, "C:\\ZED\\X"), 1);
    EXPECT_EQ(pRenamed->bActive, 0);
}

TEST_F(NameListTest, ListsReachedThroughOtherHeadsStayCorrect) {
    AddName(4, &pList, "m");
    AddName(4, &pOther, "m");
    AddName(4, &pOther, "a");
    NAMEITEM* pDetached = pList;
    pList = nullptr; // dropped behind the list's back, as a new session does
    AddName(4, &pList, "q");
    EXPECT_EQ(ListedNames(pList), (std::vector<std::string>{"q"}));
    EXPECT_EQ(ListedNames(pOther), (std::vector<std::string>{"a", "m"}));
    EXPECT_EQ(FindName(pOther, "M"), pOther->pNext);
    FreeNameList(&pDetached);
}

TEST_F(NameListTest, ManyRandomNamesGiveTheSameListAsInsertionByWalking) {
    std::mt19937 random(7);
    std::vector<std::string> expected;
    for (int i = 0; i < 3000; ++i) {
        std::string name =
            "c:\\dir" + std::to_string(random() % 40) + "\\File" + std::to_string(random() % 500);
        if (random() % 2)
            CharUpperA(name.data());
        size_t at = 0;
        while (at < expected.size() && CompareNoCase(expected[at].c_str(), name.c_str()) < 0)
            ++at;
        if (at == expected.size() || CompareNoCase(expected[at].c_str(), name.c_str()) != 0)
            expected.insert(expected.begin() + static_cast<long>(at), name);
        AddName(4, &pList, name.c_str());
    }
    EXPECT_EQ(ListedNames(pList), expected);
    for (NAMEITEM* pItem = pList; pItem && pItem->pNext; pItem = pItem->pNext)
        EXPECT_EQ(pItem->pNext->pPrev, pItem);
}

} // namespace
