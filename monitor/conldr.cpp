// The monitor thread: loads the driver "tr95.vxd", shares the ring buffer
// with it, waits for its notifications and hands every record to its sink
// (the change recorder); StartMonitor and StopMonitor start and end the thread.
#include "monitor/monitor.h"

#include "common/boxes.h"
#include "common/paths.h"
#include "common/status.h"
#include "monitor/protocol.h"
#include "monitor/vxdload.h"
#include "common/guard.h"
#include "common/library.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kDriverBase[] = "tr95";
constexpr char kDriverExtension[] = ".vxd";
constexpr char kProbeFormat[] = "\\\\.\\%s";
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr char kErrorTitle[] = "Uninstaller";
constexpr char kAlreadyLoaded[] = "ERROR - TR95.VxD Already Loaded.\nUnable to reload the VxD.";
constexpr char kLoadFailedFormat[] = "ERROR %xh on VxD Load - Not in Current Directory or on Path.";
constexpr DWORD kThreadStackBytes = 16384;
constexpr DWORD kFinalWaitMs = 100;
// How long the monitor drains a driver that is handing over what it saw
// before the stop; a setup's last changes rarely need more than a second.
constexpr DWORD kFlushLimitMs = 120000;
// While the stop waits for the monitor thread, the host's window is answered
// at least this often.
constexpr DWORD kStopPumpMs = 15;
constexpr int kFolderChars = 521;
constexpr int kLibraryChars = 522;

// Process-wide state of the monitor; the user-interface thread owns the
// thread handle and the kill event, the monitor thread the rest while it runs.
HANDLE hMonitorThread;
DWORD dwMonitorThreadId;
HANDLE hStartEvent;
HANDLE hKillEvent;
HANDLE hDriver = INVALID_HANDLE_VALUE;
char szDevicePath[kLibraryChars + 32];
HANDLE hMapping;
void* pView;
HANDLE hNotifyEvent;
HANDLE hDriverEvent;
bool fStartSet;
volatile LONG cRecordsHandedOver;
// Set before the thread starts, read by it.
MonitorSink pfnRecordSink;
// Drives where changes may have been lost; read by the session once the
// thread has ended.
DWORD dwMissedDrives;

void HandOver(void* pBuffer, int iSlot) {
    if (pfnRecordSink)
        pfnRecordSink(0, MonitorSlot(pBuffer, iSlot));
    InterlockedIncrement(&cRecordsHandedOver);
}

void SetStartEvent() {
    if (!fStartSet && hStartEvent)
        SetEvent(hStartEvent);
    fStartSet = true;
}

// The driver's messages are owned by the top-level window at the top of the
// Z order; the host's thread answers the box's messages while it waits.
void ShowDriverError(const char* pszText) {
    ShowLibraryBox(GetTopWindow(nullptr), pszText, MB_OK | MB_ICONSTOP, kErrorTitle);
}

void RestoreFolder(const char* pszSavedFolder) {
    SetCurrentDirectoryA(pszSavedFolder);
}

// "\\.\" + "tr95" + ".vxd": the driver looked for in the current folder and
// along the search path.
void BuildSearchLoadPath() {
    std::snprintf(szDevicePath, sizeof szDevicePath, "%s%s%s", kDevicePrefix, kDriverBase,
                  kDriverExtension);
}

// "\\.\" + folder + "\" + "tr95" + ".vxd": the driver in the given folder.
void BuildFolderLoadPath(const char* pszFolder) {
    std::snprintf(szDevicePath, sizeof szDevicePath, "%s%s\\%s%s", kDevicePrefix, pszFolder,
                  kDriverBase, kDriverExtension);
}

HANDLE OpenLoadPath(DWORD dwDisposition) {
    return VxdCreateFile(szDevicePath, 0, 0, nullptr, dwDisposition, FILE_FLAG_DELETE_ON_CLOSE,
                         nullptr);
}

// A driver that answers its probe name belongs to someone else.
bool ProbeLoadedDriver() {
    std::snprintf(szDevicePath, sizeof szDevicePath, kProbeFormat, kDriverBase);
    hDriver = VxdCreateFile(szDevicePath, 0, 0, nullptr, 0, 0, nullptr);
    return hDriver != INVALID_HANDLE_VALUE;
}

bool GetWindowsFolder(char* pszFolder) {
    UINT cch = GetWindowsDirectoryA(pszFolder, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return false;
    StripBackslash(pszFolder);
    return true;
}

// The last resort: copy the driver into the Windows folder and load it from
// there.
bool LoadFromWindowsFolder(const char* pszLibraryFolder) {
    char szWindows[MAX_PATH];
    if (!GetWindowsFolder(szWindows) || !SetCurrentDirectoryA(szWindows))
        return false;
    char szSource[kLibraryChars + 16];
    char szTarget[MAX_PATH + 16];
    std::snprintf(szSource, sizeof szSource, "%s\\%s%s", pszLibraryFolder, kDriverBase,
                  kDriverExtension);
    std::snprintf(szTarget, sizeof szTarget, "%s\\%s%s", szWindows, kDriverBase, kDriverExtension);
    if (!CopyFileA(szSource, szTarget, FALSE))
        return false;
    BuildSearchLoadPath();
    hDriver = OpenLoadPath(0);
    return hDriver != INVALID_HANDLE_VALUE;
}

// The three load attempts: from the library's folder as the current folder
// (or along the search path), by the full name in the library's folder, and
// from a copy in the Windows folder. The current folder is changed on the
// way; the caller restores it.
bool LoadDriver() {
    char szLibraryFolder[kLibraryChars] = "";
    DWORD cch = GetModuleFileNameA(hinstLib, szLibraryFolder, kLibraryChars);
    char* pszLastBackslash =
        cch && cch < kLibraryChars ? std::strrchr(szLibraryFolder, '\\') : nullptr;
    if (pszLastBackslash) {
        *pszLastBackslash = '\0';
        SetCurrentDirectoryA(szLibraryFolder);
        BuildSearchLoadPath();
    } else {
        szLibraryFolder[0] = '\0';
        std::snprintf(szDevicePath, sizeof szDevicePath, kProbeFormat, kDriverBase);
        std::strcat(szDevicePath, kDriverExtension);
    }
    hDriver = OpenLoadPath(CREATE_NEW);
    if (hDriver != INVALID_HANDLE_VALUE)
        return true;
    BuildFolderLoadPath(szLibraryFolder);
    hDriver = OpenLoadPath(0);
    if (hDriver != INVALID_HANDLE_VALUE)
        return true;
    return LoadFromWindowsFolder(szLibraryFolder);
}

// The view's address travels to the driver as 32 bits, so the 64-bit build
// maps the view into the lowest free stretch of the address space.
void* MapSharedView(HANDLE hSection) {
#ifdef _WIN64
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const uintptr_t uGranularity = info.dwAllocationGranularity;
    const uintptr_t uLimit = uintptr_t(1) << 32;
    uintptr_t uAddress = uGranularity;
    while (uAddress + kMonitorBufferBytes <= uLimit) {
        MEMORY_BASIC_INFORMATION region;
        if (!VirtualQuery(reinterpret_cast<void*>(uAddress), &region, sizeof region))
            return nullptr;
        uintptr_t uRegionEnd = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        uintptr_t uBase = (uAddress + uGranularity - 1) / uGranularity * uGranularity;
        if (region.State == MEM_FREE && uBase + kMonitorBufferBytes <= uRegionEnd &&
            uBase + kMonitorBufferBytes <= uLimit) {
            void* pMapped = MapViewOfFileEx(hSection, FILE_MAP_WRITE, 0, 0, kMonitorBufferBytes,
                                            reinterpret_cast<void*>(uBase));
            if (pMapped)
                return pMapped;
        }
        uAddress = uRegionEnd > uAddress ? uRegionEnd : uAddress + uGranularity;
    }
    return nullptr;
#else
    return MapViewOfFile(hSection, FILE_MAP_WRITE, 0, 0, kMonitorBufferBytes);
#endif
}

void ArmDriver() {
    MONITOR_ARM_INPUT input;
    input.hEvent = static_cast<int32_t>(reinterpret_cast<intptr_t>(hDriverEvent));
    input.dwView = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pView));
    DWORD cbReturned = 0;
    VxdDeviceIoControl(hDriver, MONITOR_ARM, &input, sizeof input, nullptr, 0, &cbReturned,
                       nullptr);
}

// The stop handshake: the driver is asked to hand over everything it has
// seen, and the ring is drained (after a wait of at most 100 ms for each
// word from the driver) until the driver says it is done. A driver with
// nothing left says so at once, so the ring is drained once; a driver that
// cannot flush leaves one drain. When the limit is reached every watched
// drive counts as one where changes may be missing.
void DrainFinalRecords() {
    DWORD cbReturned = 0;
    bool fFlushing =
        VxdDeviceIoControl(hDriver, MONITOR_FLUSH, nullptr, 0, nullptr, 0, &cbReturned, nullptr);
    DWORD dwStart = GetTickCount();
    for (;;) {
        if (hDriverEvent)
            WaitForSingleObject(hDriverEvent, kFinalWaitMs);
        bool fFlushed = !fFlushing || ReadMonitorIndex(pView, kMonitorFlushedOffset) != 0;
        DrainMonitorRing(pView);
        if (fFlushed)
            break;
        if (GetTickCount() - dwStart >= kFlushLimitMs) {
            dwMissedDrives |= static_cast<DWORD>(ReadMonitorIndex(pView, kMonitorWatchedOffset));
            break;
        }
    }
    dwMissedDrives |= static_cast<DWORD>(ReadMonitorIndex(pView, kMonitorMissedOffset));
}

// Once the driver is loaded and the folder restored: share the buffer and
// serve the ring until the kill event, then take what the driver still has.
void ServeDriver(PFNOPENVXDHANDLE pfnOpenVxDHandle) {
    hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  kMonitorBufferBytes, nullptr);
    if (!hMapping)
        return;
    pView = MapSharedView(hMapping);
    if (!pView)
        return;
    hNotifyEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!hNotifyEvent) {
        InternalError("Conldr", __LINE__);
        return;
    }
    hDriverEvent = pfnOpenVxDHandle(hNotifyEvent);
    HANDLE ahWait[2] = {hNotifyEvent, hKillEvent};
    for (;;) {
        ArmDriver();
        SetStartEvent();
        DWORD dwWait = WaitForMultipleObjects(2, ahWait, FALSE, INFINITE);
        // A wait that cannot be made at all (no kill event) would never end
        // and never see the kill request: it ends the monitor like one.
        if (dwWait == WAIT_OBJECT_0) {
            DrainMonitorRing(pView);
        } else if (dwWait == WAIT_OBJECT_0 + 1 || dwWait == WAIT_FAILED) {
            DrainFinalRecords();
            return;
        }
    }
}

// Finds or loads the driver, then serves it.
void RunMonitor(PFNOPENVXDHANDLE pfnOpenVxDHandle, const char* pszSavedFolder) {
    SetLastError(0);
    if (ProbeLoadedDriver()) {
        ShowDriverError(kAlreadyLoaded);
        RestoreFolder(pszSavedFolder);
        SetStartEvent();
        return;
    }
    if (!LoadDriver()) {
        char szText[128];
        std::snprintf(szText, sizeof szText, kLoadFailedFormat,
                      static_cast<unsigned>(GetLastError()));
        ShowDriverError(szText);
        RestoreFolder(pszSavedFolder);
        SetStartEvent();
        return;
    }
    RestoreFolder(pszSavedFolder);
    ServeDriver(pfnOpenVxDHandle);
}

void DeleteWindowsFolderCopy() {
    char szWindows[MAX_PATH];
    char szCopy[MAX_PATH + 16];
    if (!GetWindowsFolder(szWindows))
        return;
    std::snprintf(szCopy, sizeof szCopy, "%s\\%s%s", szWindows, kDriverBase, kDriverExtension);
    DeleteFileA(szCopy);
}

// Waits for the start event. Messages that other threads send to this
// thread's windows (a box of the monitor thread disables its owner) are
// answered meanwhile; posted messages stay queued.
void WaitForStart(HANDLE hEvent) {
    for (;;) {
        DWORD dwWait = MsgWaitForMultipleObjects(1, &hEvent, FALSE, INFINITE, QS_SENDMESSAGE);
        if (dwWait != WAIT_OBJECT_0 + 1)
            return;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace

void DrainMonitorRing(void* pBuffer) {
    int32_t iHead = ReadMonitorIndex(pBuffer, kMonitorHeadOffset);
    int32_t iTail = ReadMonitorIndex(pBuffer, kMonitorTailOffset);
    // Indices outside the ring would name memory beyond the buffer.
    if (iHead < 0 || iHead >= kMonitorSlots || iTail < 0 || iTail >= kMonitorSlots)
        return;
    if (iTail > iHead) {
        for (int i = iTail + 1; i < kMonitorSlots; ++i)
            HandOver(pBuffer, i);
        for (int i = 0; i <= iHead; ++i)
            HandOver(pBuffer, i);
    } else if (iTail < iHead) {
        for (int i = iTail + 1; i <= iHead; ++i)
            HandOver(pBuffer, i);
    }
    WriteMonitorIndex(pBuffer, kMonitorTailOffset, iHead);
}

DWORD MonitorRecordsHandedOver() {
    return static_cast<DWORD>(cRecordsHandedOver);
}

DWORD TakeMonitorMissedDrives() {
    DWORD dwDrives = dwMissedDrives;
    dwMissedDrives = 0;
    return dwDrives;
}

DWORD WINAPI MonitorThread(void*) {
    auto pfnOpenVxDHandle = reinterpret_cast<PFNOPENVXDHANDLE>(
        reinterpret_cast<void*>(VxdGetProcAddress(GetModuleHandleA("kernel32"), "OpenVxDHandle")));
    if (!pfnOpenVxDHandle) {
        SetEvent(hStartEvent);
        return 0;
    }
    fStartSet = false;
    char szSavedFolder[kFolderChars] = "";
    GetCurrentDirectoryA(kFolderChars, szSavedFolder);
    // Nobody on this thread could answer a failure: it ends the monitor, and
    // the session goes on with what was recorded, in the folder it had.
    if (!Guarded([&] { RunMonitor(pfnOpenVxDHandle, szSavedFolder); }) && !fStartSet)
        RestoreFolder(szSavedFolder);
    SetStartEvent();
    Guarded([] { CloseMonitor(); });
    DeleteWindowsFolderCopy();
    return 1;
}

void CloseMonitor() {
    if (hDriver != INVALID_HANDLE_VALUE) {
        DWORD cbReturned = 0;
        VxdDeviceIoControl(hDriver, MONITOR_STOP, nullptr, 0, nullptr, 0, &cbReturned, nullptr);
        VxdCloseHandle(hDriver);
        hDriver = INVALID_HANDLE_VALUE;
    }
    if (pView)
        UnmapViewOfFile(pView);
    pView = nullptr;
    if (hMapping)
        CloseHandle(hMapping);
    hMapping = nullptr;
    if (hNotifyEvent)
        CloseHandle(hNotifyEvent);
    hNotifyEvent = nullptr;
    hDriverEvent = nullptr;
    if (hStartEvent)
        CloseHandle(hStartEvent);
    hStartEvent = nullptr;
}

void SetMonitorSink(MonitorSink pfnSink) {
    pfnRecordSink = pfnSink;
}

void StartMonitor() {
    if (hMonitorThread)
        return;
    dwMissedDrives = 0;
    hKillEvent = CreateEventA(nullptr, FALSE, FALSE, "TrKillThread");
    hStartEvent = CreateEventA(nullptr, FALSE, FALSE, "TrStartThread");
    if (!hKillEvent || !hStartEvent)
        InternalError("Conldr", __LINE__);
    if (hKillEvent)
        ResetEvent(hKillEvent);
    if (hStartEvent)
        ResetEvent(hStartEvent);
    // The thread closes the start event when it ends; this thread waits on
    // a handle of its own so that the wait never meets a reused handle value.
    HANDLE hStartWait = nullptr;
    if (hStartEvent)
        DuplicateHandle(GetCurrentProcess(), hStartEvent, GetCurrentProcess(), &hStartWait, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
    hMonitorThread =
        CreateThread(nullptr, kThreadStackBytes, MonitorThread, nullptr, 0, &dwMonitorThreadId);
    if (hMonitorThread && hStartWait)
        WaitForStart(hStartWait);
    if (hStartWait)
        CloseHandle(hStartWait);
}

void StopMonitor() {
    if (!hMonitorThread)
        return;
    if (hKillEvent)
        SetEvent(hKillEvent);
    // The thread hands over what the driver still has, which may take a
    // while: the host's window keeps answering, as it does during the scans.
    DWORD dwExitCode = STILL_ACTIVE;
    while (hMonitorThread && GetExitCodeThread(hMonitorThread, &dwExitCode) &&
           dwExitCode == STILL_ACTIVE) {
        MsgWaitForMultipleObjects(1, &hMonitorThread, FALSE, kStopPumpMs, QS_ALLINPUT);
        PumpMessages();
    }
    // A message answered meanwhile may have stopped the monitor already.
    if (!hMonitorThread)
        return;
    if (hKillEvent)
        CloseHandle(hKillEvent);
    hKillEvent = nullptr;
    CloseHandle(hMonitorThread);
    hMonitorThread = nullptr;
    dwMonitorThreadId = 0;
}
