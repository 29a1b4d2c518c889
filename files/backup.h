// Backup of the start-up files of drive C and the configuration files of the
// Windows folder into the session's temporary folder.
#pragma once

#include <windows.h>

int BackupSystemFiles();
int BackupFile(const char* pszFolder, const char* pszName);
