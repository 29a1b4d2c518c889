// The file-system monitor thread: loads the driver, shares the ring buffer
// with it and hands every record to its sink.
#pragma once

#include <windows.h>

struct MONITOR_RECORD;

// Where the monitor hands each record. The session wires it to the change
// recorder before the monitor starts; without a sink records are only counted.
using MonitorSink = void (*)(WORD wSelector, const MONITOR_RECORD* pRecord);
void SetMonitorSink(MonitorSink pfnSink);

void StartMonitor();
void StopMonitor();
DWORD WINAPI MonitorThread(void* pParameter);
void CloseMonitor();

// Hands the records between dwTail and dwHead of a shared buffer to the
// sink and moves dwTail up to dwHead.
void DrainMonitorRing(void* pView);

// Records handed to the sink since the library was loaded; lets a
// caller see that the monitor has caught up with a burst of changes.
DWORD MonitorRecordsHandedOver();

// Drives (bit i: drive 'A' + i) where the monitor may have missed changes
// since this was last asked; ask after StopMonitor.
DWORD TakeMonitorMissedDrives();
