// The driver's side of the shared ring: it owns dwHead, the slots and the
// driver's fields of the control block, reads dwTail, and never overwrites a
// slot the reader has not consumed.
#pragma once

#include <windows.h>

class DriverRing {
  public:
    // The reader's buffer and notification event, as MONITOR_ARM gives them.
    void Attach(void* pView, HANDLE hEvent);
    void UseEvent(HANDLE hEvent);

    // Writes one record into the slot after dwHead, waiting while the ring
    // is full (the reader is told meanwhile); false when the ring was
    // stopped. Paths that do not fit a record's field are not written
    // (false): a cut path would name a different item.
    bool Write(DWORD dwOperation, const char* pszPath, const char* pszPath2);
    // Tells the reader of the records written since it was last told.
    void NotifyWritten();

    // The drives under watch, and drives where changes were lost.
    void MarkWatched(DWORD dwDrives);
    void MarkMissed(DWORD dwDrives);
    // dwFlushed: cleared when a flush begins; set, and the reader told, once
    // everything seen before it is in the ring.
    void ClearFlushed();
    void MarkFlushed();

    // After Stop, Write returns at once and the buffer is never written again.
    void Stop();
    void Detach();

  private:
    bool WaitForRoom(int iNext);
    void Notify();

    void* pView_ = nullptr;
    HANDLE volatile hEvent_ = nullptr;
    volatile LONG fStopped_ = 0;
    bool fUnnotified_ = false;
};
