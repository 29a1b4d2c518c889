// Watching the machine's fixed drives for folders and files that are
// created, removed and renamed, and reporting them into the ring.
#pragma once

#include "driver/ring.h"

#include <windows.h>

// Starts watching every fixed drive that lies inside this machine's own
// folders. Returns when every existing folder is under watch.
bool StartWatching(DriverRing* pRing);
// Ends watching; returns when nothing will be reported any more.
void StopWatching();
