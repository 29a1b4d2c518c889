// Writing records into the ring shared with the monitor thread.
#include "driver/ring.h"

#include "monitor/protocol.h"

#include <cstring>

namespace {
// While the ring is full the reader is told again this often, in case it
// missed the first word.
constexpr DWORD kRenotifyMs = 50;
} // namespace

void DriverRing::Attach(void* pView, HANDLE hEvent) {
    pView_ = pView;
    InterlockedExchange(&fStopped_, 0);
    UseEvent(hEvent);
}

void DriverRing::UseEvent(HANDLE hEvent) {
    hEvent_ = hEvent;
}

void DriverRing::Stop() {
    InterlockedExchange(&fStopped_, 1);
}

void DriverRing::Detach() {
    Stop();
    pView_ = nullptr;
    hEvent_ = nullptr;
}

// A full ring would make dwHead reach dwTail, which the reader takes for an
// empty one; so the writer waits until the reader has consumed a slot. The
// reader empties the whole ring once told, so it is told once, not on every
// look at dwTail.
bool DriverRing::WaitForRoom(int iNext) {
    DWORD dwLastNotify = 0;
    for (int cTries = 0; iNext == ReadMonitorIndex(pView_, kMonitorTailOffset); ++cTries) {
        if (fStopped_)
            return false;
        DWORD dwNow = GetTickCount();
        if (cTries == 0 || dwNow - dwLastNotify >= kRenotifyMs) {
            Notify();
            dwLastNotify = dwNow;
        }
        Sleep(cTries < 16 ? 0 : 1);
    }
    return !fStopped_;
}

bool DriverRing::Write(DWORD dwOperation, const char* pszPath, const char* pszPath2) {
    if (!pView_ || fStopped_)
        return false;
    size_t cchPath = std::strlen(pszPath);
    size_t cchPath2 = pszPath2 ? std::strlen(pszPath2) : 0;
    if (cchPath >= kMonitorPathChars || cchPath2 >= kMonitorPathChars)
        return false;
    int32_t iHead = ReadMonitorIndex(pView_, kMonitorHeadOffset);
    if (iHead < 0 || iHead >= kMonitorSlots)
        iHead = 0;
    int iNext = (iHead + 1) % kMonitorSlots;
    if (!WaitForRoom(iNext))
        return false;
    MONITOR_RECORD* pRecord = MonitorSlot(pView_, iNext);
    std::memset(pRecord, 0, sizeof *pRecord);
    pRecord->dwOperation = dwOperation;
    std::memcpy(pRecord->szPath, pszPath, cchPath);
    if (pszPath2)
        std::memcpy(pRecord->szPath2, pszPath2, cchPath2);
    WriteMonitorIndex(pView_, kMonitorHeadOffset, iNext);
    fUnnotified_ = true;
    return true;
}

void DriverRing::NotifyWritten() {
    if (fUnnotified_)
        Notify();
}

void DriverRing::Notify() {
    fUnnotified_ = false;
    if (HANDLE hEvent = hEvent_)
        SetEvent(hEvent);
}

void DriverRing::MarkWatched(DWORD dwDrives) {
    if (pView_ && !fStopped_)
        AddMonitorBits(pView_, kMonitorWatchedOffset, static_cast<int32_t>(dwDrives));
}

void DriverRing::MarkMissed(DWORD dwDrives) {
    if (pView_ && !fStopped_)
        AddMonitorBits(pView_, kMonitorMissedOffset, static_cast<int32_t>(dwDrives));
}

void DriverRing::ClearFlushed() {
    if (pView_ && !fStopped_)
        WriteMonitorIndex(pView_, kMonitorFlushedOffset, 0);
}

void DriverRing::MarkFlushed() {
    if (!pView_ || fStopped_)
        return;
    WriteMonitorIndex(pView_, kMonitorFlushedOffset, 1);
    Notify();
}
