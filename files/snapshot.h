// After setup: comparison of files, verification of new items, and program
// groups and icons.
#pragma once

void CompareFiles();
void LoadProtectedFolders();
void FreeProtectedFolders();
void VerifyNewItems();
void CheckGroupsAndIcons();
