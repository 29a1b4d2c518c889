// After setup: comparison of files, verification of new items, and program
// groups and icons.
#pragma once

#include "files/lists.h"

void CompareFiles();
int CompareFolderLists(DIRFILE* pBefore, DIRFILE* pAfter, const char* pszFolder);
int SameAsBackup(const char* pszPath, const char* pszBackupName);
DWORD GetLongPath(const char* pszPath, char* pszOut, DWORD cchOut);
int GetSpecialFolderPath(char* pszBuffer, int iFolder);
void LoadProtectedFolders();
void FreeProtectedFolders();
void VerifyNewItems();
void CheckGroupsAndIcons();
