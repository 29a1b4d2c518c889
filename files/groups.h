// After setup: program groups and icons among the new folders and files,
// offered as group and icon actions.
#pragma once

int GetSpecialFolderPath(char* pszBuffer, int iFolder);
void CheckGroupsAndIcons();
