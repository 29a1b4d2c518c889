// Records on their way from the watches to the ring. The watches hand their
// records over without waiting, so that they can ask for the next changes at
// once: changes that pile up unread beyond a watch's buffer are lost. A
// thread of the queue moves the records into the ring, waiting there for the
// reader whenever the ring is full.
#pragma once

#include "driver/ring.h"

#include <windows.h>

#include <deque>
#include <string>

class RecordQueue {
  public:
    RecordQueue();
    ~RecordQueue();
    RecordQueue(const RecordQueue&) = delete;
    RecordQueue& operator=(const RecordQueue&) = delete;

    bool Start(DriverRing* pRing);
    void Post(DWORD dwOperation, std::string path, std::string path2);
    // Ends the queue's thread; records not yet in the ring are dropped.
    void Stop();

  private:
    struct PENDING {
        DWORD dwOperation;
        std::string path;
        std::string path2;
    };

    static DWORD WINAPI ThreadProc(void* pContext);
    void Run();
    bool Take(PENDING* pRecord);

    CRITICAL_SECTION lock_;
    std::deque<PENDING> pending_;
    DriverRing* pRing_ = nullptr;
    HANDLE hPosted_ = nullptr;
    HANDLE hThread_ = nullptr;
    volatile LONG fStopping_ = 0;
};
