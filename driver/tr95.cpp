// The monitoring driver tr95.vxd. The monitor thread arms it with the shared
// buffer and its notification event; from the first arming until it is
// stopped the driver reports every folder and file created, removed or
// renamed on the machine's fixed drives into the buffer's ring. Before the
// monitor stops it, a flush hands over everything seen up to then.
#include "driver/queue.h"
#include "driver/ring.h"
#include "driver/watch.h"
#include "monitor/protocol.h"

#include <cstring>

namespace {

DriverRing ring;
RecordQueue queue;
HANDLE hLoadedMark;
LONG cOpenHandles;
bool fWatching;
bool fStopped;

// While loaded, the driver holds a named object, so that a probe of its
// device name finds it loaded from any process of the machine.
void AnnounceLoaded(HINSTANCE hinstSelf) {
    char szFile[MAX_PATH];
    DWORD cch = GetModuleFileNameA(hinstSelf, szFile, sizeof szFile);
    if (cch == 0 || cch >= sizeof szFile)
        return;
    const char* pszName = szFile;
    for (const char* p = szFile; *p; ++p)
        if (*p == '\\' || *p == '/')
            pszName = p + 1;
    char szLoadedName[96];
    if (BuildVxdLoadedName(pszName, szLoadedName, sizeof szLoadedName))
        hLoadedMark = CreateMutexA(nullptr, FALSE, szLoadedName);
}

BOOL Arm(const void* pIn, DWORD cbIn) {
    if (!pIn || cbIn < sizeof(MONITOR_ARM_INPUT) || fStopped) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MONITOR_ARM_INPUT input;
    std::memcpy(&input, pIn, sizeof input);
    HANDLE hEvent = reinterpret_cast<HANDLE>(static_cast<intptr_t>(input.hEvent));
    if (fWatching) {
        ring.UseEvent(hEvent);
        return TRUE;
    }
    void* pView = reinterpret_cast<void*>(static_cast<uintptr_t>(input.dwView));
    if (!pView) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ring.Attach(pView, hEvent);
    fWatching = queue.Start(&ring) && StartWatching(&queue);
    if (!fWatching) {
        queue.Stop();
        ring.Detach();
    }
    return fWatching;
}

// Everything seen so far goes into the ring, then dwFlushed is set; the
// caller drains the ring meanwhile.
BOOL Flush() {
    if (!fWatching) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    ring.ClearFlushed();
    return RequestFlush();
}

// After this the buffer is never written again.
void Stop() {
    fStopped = true;
    if (!fWatching)
        return;
    ring.Stop();
    StopWatching();
    queue.Stop();
    ring.Detach();
    fWatching = false;
}

} // namespace

// The control entry, called by the loader on every open and close of a
// handle and for every control call on one.
extern "C" BOOL WINAPI TrDeviceIoControl(DWORD dwCode, void* pIn, DWORD cbIn, void*, DWORD,
                                         DWORD* pcbReturned, OVERLAPPED*) {
    if (pcbReturned)
        *pcbReturned = 0;
    switch (dwCode) {
    case kDiocOpen:
        // A driver loaded again starts afresh.
        if (cOpenHandles++ == 0)
            fStopped = false;
        return TRUE;
    case kDiocCloseHandle:
        if (cOpenHandles > 0 && --cOpenHandles == 0)
            Stop();
        return TRUE;
    case MONITOR_ARM:
        return Arm(pIn, cbIn);
    case MONITOR_FLUSH:
        return Flush();
    case MONITOR_STOP:
        Stop();
        return TRUE;
    default:
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
}

BOOL WINAPI DllMain(HINSTANCE hinstSelf, DWORD dwReason, void*) {
    if (dwReason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(hinstSelf);
        AnnounceLoaded(hinstSelf);
    } else if (dwReason == DLL_PROCESS_DETACH && hLoadedMark) {
        CloseHandle(hLoadedMark);
        hLoadedMark = nullptr;
    }
    return TRUE;
}
