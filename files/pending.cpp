// Placeholder steps of the file-system snapshot, filled by the files work.
#include "files/lists.h"
#include "files/recorder.h"
#include "files/snapshot.h"
#include "monitor/monitor.h"
#include "monitor/protocol.h"
#include "common/util.h"

#include <cstdlib>
#include <cstring>
#include <string>

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

// Stand-in event list until the recorder lands: appends and finds events.
namespace {
FILEEVENT* pEventHead;
FILEEVENT* pEventTail;
DWORD dwEventSeq;
} // namespace

void AppendEvent(const char* pszPath, const char* pszNewPath, DWORD dwOp) {
    if (!pszPath || !*pszPath)
        return;
    auto* pEvent = static_cast<FILEEVENT*>(AllocZeroedOrDie(sizeof(FILEEVENT)));
    pEvent->dwSeq = ++dwEventSeq;
    pEvent->pszFile = DupString(pszPath);
    pEvent->pszNewFile = pszNewPath && *pszNewPath ? DupString(pszNewPath) : nullptr;
    pEvent->dwOp = dwOp;
    pEvent->bActive = 1;
    if (pEventTail)
        pEventTail->pNext = pEvent;
    else
        pEventHead = pEvent;
    pEventTail = pEvent;
}

void RecordFileChange(WORD wSelector, const MONITOR_RECORD* pRecord) {
    if (wSelector != 0 || !pRecord)
        return;
    std::string path(pRecord->szPath, strnlen(pRecord->szPath, kMonitorPathChars - 1));
    if (path.empty() || path[0] == '\\')
        return;
    switch (pRecord->dwOperation) {
    case 1:
    case 2:
        if (path.back() != '\\')
            path += '\\';
        AppendEvent(path.c_str(), nullptr, pRecord->dwOperation);
        break;
    case 5: {
        std::string newPath(pRecord->szPath2, strnlen(pRecord->szPath2, kMonitorPathChars - 1));
        AppendEvent(path.c_str(), newPath.c_str(), 5);
        break;
    }
    case 6:
    case 8:
        AppendEvent(path.c_str(), nullptr, pRecord->dwOperation);
        break;
    default:
        break;
    }
}

FILEEVENT* FindActiveEvent(const char* pszPath, DWORD dwOp) {
    for (FILEEVENT* pEvent = pEventHead; pEvent; pEvent = pEvent->pNext)
        if (pEvent->bActive && pEvent->dwOp == dwOp && CompareNoCase(pEvent->pszFile, pszPath) == 0)
            return pEvent;
    return nullptr;
}

void FreeRecordedChanges() {
    while (FILEEVENT* pEvent = pEventHead) {
        pEventHead = pEvent->pNext;
        free(pEvent->pszFile);
        free(pEvent->pszNewFile);
        free(pEvent);
    }
    pEventTail = nullptr;
}
void StartRecording() {
    StartMonitor();
}
void StopRecording() {
    StopMonitor();
}
