// Doing the watches' work on a thread of its own.
#include "driver/queue.h"

#include <new>

RecordQueue::RecordQueue() {
    InitializeCriticalSection(&lock_);
}

RecordQueue::~RecordQueue() {
    Stop();
    DeleteCriticalSection(&lock_);
}

bool RecordQueue::Start(DriverRing* pRing) {
    if (hThread_)
        return true;
    pRing_ = pRing;
    InterlockedExchange(&fStopping_, 0);
    InterlockedExchange(&fWakeSent_, 0);
    hPosted_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (hPosted_)
        hThread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    if (!hThread_) {
        Stop();
        return false;
    }
    return true;
}

void RecordQueue::Post(std::function<void(DriverRing&)> work, DWORD dwDrives) {
    EnterCriticalSection(&lock_);
    bool fQueued = false;
    try {
        pending_.push_back(std::move(work));
        fQueued = true;
    } catch (const std::bad_alloc&) {
        // Without memory the work is dropped; the watches go on.
    }
    LeaveCriticalSection(&lock_);
    if (!fQueued)
        MarkMissed(dwDrives);
    if (InterlockedExchange(&fWakeSent_, 1) == 0)
        SetEvent(hPosted_);
}

void RecordQueue::MarkWatched(DWORD dwDrives) {
    if (pRing_)
        pRing_->MarkWatched(dwDrives);
}

void RecordQueue::MarkMissed(DWORD dwDrives) {
    if (pRing_ && dwDrives)
        pRing_->MarkMissed(dwDrives);
}

void RecordQueue::Stop() {
    InterlockedExchange(&fStopping_, 1);
    if (pRing_)
        pRing_->Stop();
    EndThread(hThread_, hPosted_);
    if (hPosted_)
        CloseHandle(hPosted_);
    hPosted_ = nullptr;
    EnterCriticalSection(&lock_);
    pending_.clear();
    LeaveCriticalSection(&lock_);
}

DWORD WINAPI RecordQueue::ThreadProc(void* pContext) {
    static_cast<RecordQueue*>(pContext)->Run();
    return 0;
}

bool RecordQueue::Take(std::function<void(DriverRing&)>* pWork) {
    EnterCriticalSection(&lock_);
    bool fTaken = !pending_.empty();
    if (fTaken) {
        *pWork = std::move(pending_.front());
        pending_.pop_front();
    }
    LeaveCriticalSection(&lock_);
    return fTaken;
}

// Does everything queued, then tells the reader once: it reads every slot
// up to dwHead whenever it is told. A post after the flag is cleared wakes
// the thread again, so nothing waits unseen.
void RecordQueue::Run() {
    while (!fStopping_) {
        InterlockedExchange(&fWakeSent_, 0);
        std::function<void(DriverRing&)> work;
        while (!fStopping_ && Take(&work))
            work(*pRing_);
        pRing_->NotifyWritten();
        WaitForSingleObject(hPosted_, INFINITE);
    }
}

void EndThread(HANDLE& hThread, HANDLE hWake) {
    if (!hThread)
        return;
    SetEvent(hWake);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    hThread = nullptr;
}
