// Placeholder steps of the file-system snapshot, filled by the files work.
#include "files/lists.h"
#include "files/recorder.h"
#include "files/snapshot.h"
#include "monitor/monitor.h"

DIRFILE* WinBefore;
DIRFILE* WinAfter;
DIRFILE* SysBefore;
DIRFILE* SysAfter;
DIRFILE* BackupList;
char WinDir[261];
char SysDir[261];
char RootDir[4];

int SnapshotSystemFolders() {
    return 1;
}
int ListFolderFiles(const char*, DIRFILE** ppList, DWORD* pdwCount) {
    *ppList = nullptr;
    *pdwCount = 0;
    return 1;
}
void SortFileList(DIRFILE**, DWORD) {}
void FreeFileList(DIRFILE** ppList) {
    *ppList = nullptr;
}
void CompareFiles() {}
void LoadProtectedFolders() {}
void FreeProtectedFolders() {}
void VerifyNewItems() {}
void CheckGroupsAndIcons() {}
void ResolveRecordedChanges() {}
void FreeRecordedChanges() {}
void StartRecording() {
    StartMonitor();
}
void StopRecording() {
    StopMonitor();
}
