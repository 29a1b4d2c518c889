// After setup: the folders and files compared with their state before, and
// the folder, file and restore actions the comparison offers.
#pragma once

#include "files/lists.h"

#include <windows.h>

struct DEACTION;

void CompareFiles();
// The deletion of a folder or file that setup created, as the comparison
// offers it (uFormat: the description's string-table text).
DEACTION* AddFolderAction(const char* pszPath);
DEACTION* AddFileAction(WORD wOrder, UINT uFormat, const char* pszPath);
int CompareFolderLists(DIRFILE* pBefore, DIRFILE* pAfter, const char* pszFolder);
int SameAsBackup(const char* pszPath, const char* pszBackupName);
DWORD GetLongPath(const char* pszPath, char* pszOut, DWORD cchOut);
