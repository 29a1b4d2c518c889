// Directory snapshot lists of the Windows and system folders, the backup
// list, and the sorted name lists of new folders, new files and cautions.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>

// One file of a directory list, or one backed-up file (then szName is the
// full path). Allocated as one block sized for the name.
struct DIRFILE {
    DIRFILE* pNext;
    FILETIME ftWrite;
    DWORD dwSize;
    char szName[1];
};

constexpr int kNameItemChars = 522;
// Room of a buffer filled by BuildLowerPath.
constexpr int kLowerPathChars = 524;

// One entry of a sorted, case-insensitively unique name list.
struct NAMEITEM {
    NAMEITEM* pNext;
    NAMEITEM* pPrev;
    WORD wKind; // 0 caution text, 3 folder, 4 file
    BYTE bActive;
    char szName[kNameItemChars];
};

// Frees every record of a chain linked through pNext and empties the list.
template <class Record> void FreeChain(Record** ppList) {
    Record* pRecord = *ppList;
    while (pRecord) {
        Record* pNext = pRecord->pNext;
        std::free(pRecord);
        pRecord = pNext;
    }
    *ppList = nullptr;
}

extern DIRFILE* WinBefore;
extern DIRFILE* WinAfter;
extern DIRFILE* SysBefore;
extern DIRFILE* SysAfter;
extern DIRFILE* BackupList;
extern NAMEITEM* NewFolders;
extern NAMEITEM* NewFiles;
extern NAMEITEM* Cautions;
extern char WinDir[261];
extern char SysDir[261];
extern char RootDir[4];

// Directory lists.
int SnapshotSystemFolders();
int ListFolderFiles(const char* pszFolder, DIRFILE** ppList, DWORD* pdwCount);
DIRFILE* AddFileEntry(DIRFILE** ppList, const char* pszName, DWORD dwSize, FILETIME ftWrite,
                      DWORD* pdwCount);
void SortFileList(DIRFILE** ppList, DWORD dwCount);
DIRFILE* FindFileEntry(DIRFILE* pList, const char* pszText);
char* BuildLowerPath(const char* pszFolder, const char* pszName, char* pszBuffer);
bool EndsWithNoCase(const char* pszText, const char* pszSuffix);
void FreeFileList(DIRFILE** ppList);

// Name lists.
NAMEITEM* AddName(WORD wKind, NAMEITEM** ppList, const char* pszName);
// Adds the format filled with the argument to the caution list.
void AddCaution(const char* pszFormat, const char* pszArg);
int RemoveName(NAMEITEM** ppList, const char* pszName);
NAMEITEM* FindName(NAMEITEM* pList, const char* pszName);
void FreeNameList(NAMEITEM** ppList);
// A copy of a name list, entry for entry, removed entries included.
NAMEITEM* CopyNameList(const NAMEITEM* pList);

// Gives an entry a new name in place (its long form); the entry keeps its
// position in the list.
void RenameNameItem(NAMEITEM** ppList, NAMEITEM* pItem, const char* pszName);
