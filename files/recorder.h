// The change recorder: folds the monitor's notifications into the lists of
// new folders and new files.
#pragma once

#include <windows.h>

struct MONITOR_RECORD;

struct FILEEVENT {
    FILEEVENT* pNext;
    DWORD dwSeq;
    char* pszFile;
    char* pszNewFile;
    DWORD dwOp;
    BYTE bActive;
};

// Allocates an event record; tests put a failing one in its place, since
// the platform cannot be made to run out of memory on the monitor's thread.
using PFNALLOCFILEEVENT = void* (*)(size_t, size_t);
extern PFNALLOCFILEEVENT pfnAllocFileEvent;

void RecordFileChange(WORD wSelector, const MONITOR_RECORD* pRecord);
FILEEVENT* FindActiveEvent(const char* pszPath, DWORD dwOp);
// The events in the order they were recorded, through pNext; read it only
// while the monitor is stopped.
FILEEVENT* FirstRecordedEvent();
void ResolveRecordedChanges();
// True for an item that was there before setup and that setup renamed to
// this name (folders with a trailing backslash): it is kept, never offered.
bool RenamedBySetup(const char* pszPath);
void FreeRecordedChanges();

// Cautions for the drives (bit i: drive 'A' + i) where the monitor may have
// missed changes, and those where the recorder lost an event for lack of
// memory: the lists may be short there.
void CautionMissedDrives(DWORD dwMissed);
