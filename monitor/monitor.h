// The file-system monitor thread: loads the driver, shares the ring buffer
// with it and hands every record to the change recorder.
#pragma once

#include <windows.h>

void StartMonitor();
void StopMonitor();
DWORD WINAPI MonitorThread(void* pParameter);
void CloseMonitor();

// Hands the records between dwTail and dwHead of a shared buffer to the
// recorder and moves dwTail up to dwHead.
void DrainMonitorRing(void* pView);

// Records handed to the recorder since the library was loaded; lets a
// caller see that the monitor has caught up with a burst of changes.
DWORD MonitorRecordsHandedOver();

// Drives (bit i: drive 'A' + i) where the monitor may have missed changes
// since this was last asked; ask after StopMonitor.
DWORD TakeMonitorMissedDrives();
