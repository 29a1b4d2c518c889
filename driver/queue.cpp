// Moving the watches' records into the ring on a thread of their own.
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
    hPosted_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (hPosted_)
        hThread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    if (!hThread_) {
        Stop();
        return false;
    }
    return true;
}

void RecordQueue::Post(DWORD dwOperation, std::string path, std::string path2) {
    EnterCriticalSection(&lock_);
    try {
        pending_.push_back({dwOperation, std::move(path), std::move(path2)});
    } catch (const std::bad_alloc&) {
        // Without memory the record is dropped; the watches go on.
    }
    LeaveCriticalSection(&lock_);
    SetEvent(hPosted_);
}

void RecordQueue::Stop() {
    InterlockedExchange(&fStopping_, 1);
    if (pRing_)
        pRing_->Stop();
    if (hThread_) {
        SetEvent(hPosted_);
        WaitForSingleObject(hThread_, INFINITE);
        CloseHandle(hThread_);
        hThread_ = nullptr;
    }
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

bool RecordQueue::Take(PENDING* pRecord) {
    EnterCriticalSection(&lock_);
    bool fTaken = !pending_.empty();
    if (fTaken) {
        *pRecord = std::move(pending_.front());
        pending_.pop_front();
    }
    LeaveCriticalSection(&lock_);
    return fTaken;
}

// Moves everything queued into the ring, then tells the reader once: it
// reads every slot up to dwHead whenever it is told.
void RecordQueue::Run() {
    while (!fStopping_) {
        PENDING record;
        bool fWritten = false;
        while (!fStopping_ && Take(&record))
            fWritten |= pRing_->Write(record.dwOperation, record.path.c_str(),
                                      record.path2.empty() ? nullptr : record.path2.c_str());
        if (fWritten)
            pRing_->Notify();
        WaitForSingleObject(hPosted_, INFINITE);
    }
}
