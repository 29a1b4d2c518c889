// Work on its way from the watches to the ring. The watches hand over what
// they read without waiting, so that they can ask for the next changes at
// once: changes that pile up unread beyond a watch's buffer are lost. The
// queue's thread does the rest (reading names, looking at the file system,
// writing the ring and waiting there for the reader whenever it is full),
// in the order the work was posted.
#pragma once

#include "driver/ring.h"

#include <windows.h>

#include <deque>
#include <functional>

class RecordQueue {
  public:
    RecordQueue();
    ~RecordQueue();
    RecordQueue(const RecordQueue&) = delete;
    RecordQueue& operator=(const RecordQueue&) = delete;

    bool Start(DriverRing* pRing);
    // Runs the work on the queue's thread; it writes into the ring. Work
    // that cannot be queued for lack of memory counts as changes lost on
    // dwDrives.
    void Post(std::function<void(DriverRing&)> work, DWORD dwDrives = 0);
    // The ring's drive masks, set at once: these need no memory and no turn.
    void MarkWatched(DWORD dwDrives);
    void MarkMissed(DWORD dwDrives);
    // Ends the queue's thread; work not yet done is dropped.
    void Stop();

  private:
    static DWORD WINAPI ThreadProc(void* pContext);
    void Run();
    bool Take(std::function<void(DriverRing&)>* pWork);

    CRITICAL_SECTION lock_;
    std::deque<std::function<void(DriverRing&)>> pending_;
    DriverRing* pRing_ = nullptr;
    HANDLE hPosted_ = nullptr;
    HANDLE hThread_ = nullptr;
    volatile LONG fStopping_ = 0;
    // Set by the first post after the thread last looked at the queue: later
    // posts need not wake it again.
    volatile LONG fWakeSent_ = 0;
};

// Wakes a thread through its event, waits until it has ended and closes its
// handle; does nothing for a thread that was never started.
void EndThread(HANDLE& hThread, HANDLE hWake);
