// Watching the machine's fixed drives for folders and files that are
// created, removed and renamed, and reporting them into the ring.
#pragma once

#include "driver/queue.h"

#include <windows.h>

// Starts watching every fixed drive that lies inside this machine's own
// folders, posting each change to the queue. Returns when every existing
// folder is under watch.
bool StartWatching(RecordQueue* pQueue);
// Ends watching; returns when nothing will be reported any more.
void StopWatching();
// Asks the watch thread to queue everything the watches have seen so far,
// then the note that sets dwFlushed; false when nothing is watched.
bool RequestFlush();
