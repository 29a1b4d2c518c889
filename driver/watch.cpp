// Watching the fixed drives: two subtree watches per drive, one that sees
// only folders and one that sees only files, served by one thread that only
// copies each completed read, hands the copy to the queue and reads again
// (files watches after a short rest); the queue's thread turns the copies
// into records of the ring.
#include "driver/watch.h"

#include "driver/changes.h"
#include "common/links.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

namespace {

// Changes that pile up beyond a watch's buffer before it is read are lost,
// so the buffer holds several seconds of the fastest setup's changes.
constexpr DWORD kWatchBufferBytes = 4 * 1024 * 1024;
// A flush waits this long for its marks to come through the watches; a drive
// whose mark did not come in time may have lost changes.
constexpr DWORD kFlushMarkLimitMs = 60000;
// A drive whose root takes no mark (read-only or full) is drained instead:
// its watches are done once they have read nothing for this long.
constexpr DWORD kQuietDrainMs = 200;
// After each completed read a files watch rests this long before it reads
// again, while the platform keeps the changes for it: one read then takes a
// burst's many files at once instead of a round trip through the server for
// each. A rest holds far fewer changes than the buffer takes, even with the
// longest names at the fastest pace measured. Folders watches read again at
// once: their few changes include the renames by which the files' changes are
// placed, and those must come first.
constexpr DWORD kRestMs = 20;
constexpr char kUnixDriveFolder[] = "/dosdevices/";
// Tests hold the watches with an event of this name (and the process's id)
// so that changes pile up unread, as they do on a busy machine; a hold ends
// after this long at the latest.
constexpr wchar_t kTestHoldFormat[] = L"trun95 test hold watches %lu";
constexpr DWORD kTestHoldLimitMs = 120000;
// Tests make failures that the platform does not make on demand with events
// of these names: files watches that cannot open, roots that take no flush
// mark, and no memory for the work the watch thread queues.
constexpr wchar_t kTestFailFilesWatchesFormat[] = L"trun95 test fail files watches %lu";
constexpr wchar_t kTestNoFlushMarksFormat[] = L"trun95 test no flush marks %lu";
constexpr wchar_t kTestOutOfMemoryFormat[] = L"trun95 test out of memory %lu";

struct WATCH {
    wchar_t szRoot[4]; // "C:\"
    bool fFolders;     // sees folders only, else files only
    HANDLE hDirectory;
    OVERLAPPED overlapped;
    void* pBuffer; // page-aligned, as the notification records must be aligned
    bool fReading;
    bool fResting; // a files watch that reads again once its rest is over
    DWORD dwRestStart;
    bool fAwaitingMark; // a flush waits for its mark to come through this watch
    bool fDraining;     // ...or, without a mark, for the watch to fall quiet
    DWORD dwLastRead;
};

// The failures a test asked for, looked up once when watching starts.
struct TestFaults {
    bool fFailFilesWatches = false;
    bool fNoFlushMarks = false;
    bool fOutOfMemory = false;
};

WATCH aWatches[kMaxWatches];
int cWatches;
RecordQueue* pQueue;
HANDLE hWatchThread;
HANDLE hStopEvent;
HANDLE hReadyEvent;
HANDLE hFlushEvent;
DWORD cFlushes;
std::wstring flushMark; // the current flush's mark, made before it begins
TestFaults testFaults;

// A user's session never has the event: this is one look at the start.
HANDLE OpenTestEvent(const wchar_t* pszFormat) {
    wchar_t szName[64];
    swprintf(szName, 64, pszFormat, static_cast<unsigned long>(GetCurrentProcessId()));
    return OpenEventW(SYNCHRONIZE, FALSE, szName);
}

bool TestAsks(const wchar_t* pszFormat) {
    HANDLE hEvent = OpenTestEvent(pszFormat);
    if (hEvent)
        CloseHandle(hEvent);
    return hEvent != nullptr;
}

void ThrowIfTestOutOfMemory() {
    if (testFaults.fOutOfMemory)
        throw std::bad_alloc();
}

// A drive is watched when it is fixed and, where drives map host folders,
// when its root is one of the machine's own drive folders: a drive that maps
// the host's root or any folder outside the machine is never watched.
bool IsOwnFixedDrive(const wchar_t* pszRoot) {
    if (GetDriveTypeW(pszRoot) != DRIVE_FIXED)
        return false;
    wchar_t szWindows[MAX_PATH];
    UINT cch = GetWindowsDirectoryW(szWindows, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return false;
    std::string windowsHost = HostPathOf(szWindows);
    if (windowsHost.empty())
        return true;
    size_t cchMachine = windowsHost.find(kUnixDriveFolder);
    if (cchMachine == std::string::npos)
        return false;
    std::string driveFolders = windowsHost.substr(0, cchMachine + sizeof kUnixDriveFolder - 1);
    return HostPathOf(pszRoot).compare(0, driveFolders.size(), driveFolders) == 0;
}

bool IssueRead(WATCH& watch) {
    DWORD dwFilter = watch.fFolders ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
    ResetEvent(watch.overlapped.hEvent);
    watch.fReading = ReadDirectoryChangesW(watch.hDirectory, watch.pBuffer, kWatchBufferBytes, TRUE,
                                           dwFilter, nullptr, &watch.overlapped, nullptr);
    return watch.fReading;
}

bool OpenWatch(const wchar_t* pszRoot, bool fFolders) {
    if (cWatches >= kMaxWatches || (!fFolders && testFaults.fFailFilesWatches))
        return false;
    WATCH& watch = aWatches[cWatches];
    lstrcpynW(watch.szRoot, pszRoot, 4);
    watch.fFolders = fFolders;
    watch.hDirectory = CreateFileW(
        pszRoot, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (watch.hDirectory == INVALID_HANDLE_VALUE)
        return false;
    watch.overlapped = OVERLAPPED{};
    watch.overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watch.pBuffer =
        VirtualAlloc(nullptr, kWatchBufferBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    watch.fAwaitingMark = false;
    if (!watch.overlapped.hEvent || !watch.pBuffer || !IssueRead(watch)) {
        if (watch.overlapped.hEvent)
            CloseHandle(watch.overlapped.hEvent);
        CloseHandle(watch.hDirectory);
        if (watch.pBuffer)
            VirtualFree(watch.pBuffer, 0, MEM_RELEASE);
        watch = WATCH{};
        return false;
    }
    ++cWatches;
    return true;
}

void CloseWatch(WATCH& watch) {
    if (watch.fReading) {
        CancelIo(watch.hDirectory);
        DWORD cb = 0;
        GetOverlappedResult(watch.hDirectory, &watch.overlapped, &cb, TRUE);
    }
    CloseHandle(watch.hDirectory);
    CloseHandle(watch.overlapped.hEvent);
    VirtualFree(watch.pBuffer, 0, MEM_RELEASE);
    watch = WATCH{};
}

// The platform extends a subtree watch to an existing folder only once the
// folder is opened after the watch began: list every folder once. Links are
// never followed, so the walk stays on the drive's own folders.
void BringFoldersUnderWatch(const wchar_t* pszRoot) {
    std::vector<std::wstring> pending{pszRoot};
    while (!pending.empty()) {
        std::wstring folder = std::move(pending.back());
        pending.pop_back();
        WIN32_FIND_DATAW found;
        HANDLE hFind = FindFirstFileW((L"\\\\?\\" + folder + L"*").c_str(), &found);
        if (hFind == INVALID_HANDLE_VALUE)
            continue;
        do {
            bool fFolder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            bool fLink = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
            bool fDots =
                lstrcmpW(found.cFileName, L".") == 0 || lstrcmpW(found.cFileName, L"..") == 0;
            if (fFolder && !fLink && !fDots)
                pending.push_back(folder + found.cFileName + L"\\");
        } while (FindNextFileW(hFind, &found));
        FindClose(hFind);
    }
}

DWORD DriveBit(const WATCH& watch) {
    return 1u << ((watch.szRoot[0] - L'A') % 26);
}

// Needs no memory, so that a loss for lack of memory is never silent.
void PostMissed(DWORD dwDrives) {
    pQueue->MarkMissed(dwDrives);
}

// Changes that cannot be queued or reported for lack of memory are lost;
// their drive gets its caution.
void PostChanges(int iWatch, std::vector<BYTE> notifications) {
    const WATCH& watch = aWatches[iWatch];
    DWORD dwDrive = DriveBit(watch);
    try {
        ThrowIfTestOutOfMemory();
        std::wstring root = watch.szRoot;
        bool fFolders = watch.fFolders;
        pQueue->Post(
            [=, notifications = std::move(notifications)](DriverRing& ring) {
                try {
                    ReportChanges(iWatch, root.c_str(), fFolders, notifications, ring);
                } catch (const std::bad_alloc&) {
                    ring.MarkMissed(dwDrive);
                }
            },
            dwDrive);
    } catch (const std::bad_alloc&) {
        PostMissed(dwDrive);
    }
}

// Whether a completed read holds the creation of a flush mark.
bool HoldsCreated(const std::vector<BYTE>& notifications, const std::wstring& name) {
    const DWORD cbHeader = offsetof(FILE_NOTIFY_INFORMATION, FileName);
    const DWORD cbName = static_cast<DWORD>(name.size() * sizeof(WCHAR));
    for (size_t offset = 0; offset + cbHeader <= notifications.size();) {
        auto* pInfo = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(&notifications[offset]);
        if (pInfo->FileNameLength > notifications.size() - offset - cbHeader)
            return false;
        if (pInfo->Action == FILE_ACTION_ADDED && pInfo->FileNameLength == cbName &&
            std::memcmp(pInfo->FileName, name.data(), cbName) == 0)
            return true;
        if (pInfo->NextEntryOffset == 0)
            return false;
        offset += pInfo->NextEntryOffset;
    }
    return false;
}

// A watch that cannot read again is never read again; its drive may miss
// changes.
void ReadAgain(WATCH& watch) {
    watch.fResting = false;
    if (!IssueRead(watch)) {
        PostMissed(DriveBit(watch));
        watch.fAwaitingMark = false;
    }
}

// One completed read: copy it, hand the copy on and read again, after a rest
// for a files watch. A read that completed empty or with the
// enumerate-directory error lost what the platform had pending for the watch.
void ServeCompletion(WATCH& watch, int iWatch) {
    DWORD cbReturned = 0;
    watch.fReading = false;
    bool fRead = GetOverlappedResult(watch.hDirectory, &watch.overlapped, &cbReturned, FALSE);
    std::vector<BYTE> notifications;
    bool fLost = !fRead || cbReturned == 0;
    if (!fLost) {
        try {
            const BYTE* pBytes = static_cast<const BYTE*>(watch.pBuffer);
            notifications.assign(pBytes, pBytes + cbReturned);
        } catch (const std::bad_alloc&) {
            fLost = true;
        }
    }
    if (fLost)
        PostMissed(DriveBit(watch));
    watch.dwLastRead = GetTickCount();
    if (fLost || (!watch.fDraining && HoldsCreated(notifications, flushMark)))
        watch.fAwaitingMark = false;
    if (!notifications.empty())
        PostChanges(iWatch, std::move(notifications));
    if (watch.fFolders) {
        ReadAgain(watch);
    } else {
        watch.fResting = true;
        watch.dwRestStart = GetTickCount();
    }
}

// Watches whose rest is over (every resting one when fAll) read again.
void EndRests(bool fAll) {
    for (int i = 0; i < cWatches; ++i) {
        WATCH& watch = aWatches[i];
        if (watch.fResting && (fAll || GetTickCount() - watch.dwRestStart >= kRestMs))
            ReadAgain(watch);
    }
}

// How long until the first rest is over.
DWORD NextRestEnd() {
    DWORD dwNext = INFINITE;
    for (int i = 0; i < cWatches; ++i) {
        if (!aWatches[i].fResting)
            continue;
        DWORD dwRested = GetTickCount() - aWatches[i].dwRestStart;
        DWORD dwLeft = dwRested < kRestMs ? kRestMs - dwRested : 0;
        if (dwLeft < dwNext)
            dwNext = dwLeft;
    }
    return dwNext;
}

// A mark is a folder or a file made and removed at once in the drive's root:
// its creation comes through the watch after every change made before it.
// A mark that is made counts, even if something holds it so that it stays
// (it is removed when watching starts again).
bool MakeFlushMark(const std::wstring& path, bool fFolder) {
    if (testFaults.fNoFlushMarks)
        return false;
    if (fFolder) {
        if (!CreateDirectoryW(path.c_str(), nullptr))
            return false;
        RemoveDirectoryW(path.c_str());
        return true;
    }
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return hFile != INVALID_HANDLE_VALUE && CloseHandle(hFile);
}

// Makes a mark for every reading watch. A root that takes none (read-only,
// full, or no memory for the name) is drained until its watch falls quiet.
void BeginFlush() {
    ++cFlushes;
    bool fNamed = false;
    try {
        flushMark = FlushMarkPrefix() + std::to_wstring(cFlushes);
        fNamed = true;
    } catch (const std::bad_alloc&) {
    }
    for (int i = 0; i < cWatches; ++i) {
        WATCH& watch = aWatches[i];
        watch.fAwaitingMark = watch.fReading;
        bool fMarked = false;
        try {
            fMarked =
                watch.fReading && fNamed && MakeFlushMark(watch.szRoot + flushMark, watch.fFolders);
        } catch (const std::bad_alloc&) {
        }
        watch.fDraining = watch.fReading && !fMarked;
        watch.dwLastRead = GetTickCount();
    }
}

// Watches drained without a mark are done once quiet.
void EndQuietDrains() {
    for (int i = 0; i < cWatches; ++i) {
        WATCH& watch = aWatches[i];
        if (watch.fAwaitingMark && watch.fDraining &&
            GetTickCount() - watch.dwLastRead >= kQuietDrainMs)
            watch.fAwaitingMark = false;
    }
}

// How long until the first drained watch may count as quiet.
DWORD NextQuietEnd() {
    DWORD dwNext = INFINITE;
    for (int i = 0; i < cWatches; ++i) {
        const WATCH& watch = aWatches[i];
        if (!watch.fAwaitingMark || !watch.fDraining)
            continue;
        DWORD dwQuiet = GetTickCount() - watch.dwLastRead;
        dwNext = std::min(dwNext, dwQuiet < kQuietDrainMs ? kQuietDrainMs - dwQuiet : 0);
    }
    return dwNext;
}

bool AnyMarkAwaited() {
    for (int i = 0; i < cWatches; ++i)
        if (aWatches[i].fAwaitingMark)
            return true;
    return false;
}

// Marks that did not come in time: their drives may have lost changes.
void GiveUpMarks() {
    for (int i = 0; i < cWatches; ++i) {
        if (aWatches[i].fAwaitingMark)
            PostMissed(DriveBit(aWatches[i]));
        aWatches[i].fAwaitingMark = false;
    }
}

// Everything the watches read before the marks is queued before this.
void PostFlushed() {
    pQueue->Post([](DriverRing& ring) { ring.MarkFlushed(); });
}

// The process id in a flush mark's name ("~TR95FLUSH.<id>.<count>").
bool MarkOwner(const wchar_t* pszName, DWORD* pdwProcess) {
    const wchar_t kMarkStart[] = L"~TR95FLUSH.";
    size_t cchStart = std::size(kMarkStart) - 1;
    if (_wcsnicmp(pszName, kMarkStart, cchStart) != 0)
        return false;
    wchar_t* pszEnd = nullptr;
    *pdwProcess = std::wcstoul(pszName + cchStart, &pszEnd, 10);
    return pszEnd != pszName + cchStart && *pszEnd == L'.';
}

bool ProcessGone(DWORD dwProcess) {
    HANDLE hProcess = OpenProcess(SYNCHRONIZE, FALSE, dwProcess);
    if (!hProcess)
        return GetLastError() == ERROR_INVALID_PARAMETER;
    bool fEnded = WaitForSingleObject(hProcess, 0) == WAIT_OBJECT_0;
    CloseHandle(hProcess);
    return fEnded;
}

// Flush marks that stayed in the root (something held them, or their
// process ended before it removed them) are removed: this process's own,
// and those of processes that no longer run.
void RemoveLeftoverMarks(const wchar_t* pszRoot) {
    std::wstring root = pszRoot;
    WIN32_FIND_DATAW found;
    HANDLE hFind = FindFirstFileW((root + L"~TR95FLUSH.*").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        DWORD dwProcess = 0;
        if (!MarkOwner(found.cFileName, &dwProcess))
            continue;
        if (dwProcess != GetCurrentProcessId() && !ProcessGone(dwProcess))
            continue;
        std::wstring path = root + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveDirectoryW(path.c_str());
        else
            DeleteFileW(path.c_str());
    } while (FindNextFileW(hFind, &found));
    FindClose(hFind);
}

// A drive where either watch could not start, or whose folders could not all
// be brought under watch, may miss changes: it gets its caution.
void OpenDriveWatches() {
    wchar_t szRoot[4] = L"A:\\";
    DWORD dwDrives = GetLogicalDrives();
    DWORD dwWatched = 0;
    DWORD dwMissed = 0;
    for (int i = 0; i < 26; ++i) {
        szRoot[0] = static_cast<wchar_t>(L'A' + i);
        bool fOwn = false;
        try {
            fOwn = (dwDrives & (1u << i)) && IsOwnFixedDrive(szRoot);
            if (fOwn)
                RemoveLeftoverMarks(szRoot);
        } catch (const std::bad_alloc&) {
        }
        if (!fOwn)
            continue;
        bool fFolders = OpenWatch(szRoot, true);
        bool fFiles = OpenWatch(szRoot, false);
        if (!fFolders || !fFiles)
            dwMissed |= 1u << i;
        if (!fFolders && !fFiles)
            continue;
        dwWatched |= 1u << i;
        try {
            BringFoldersUnderWatch(szRoot);
        } catch (const std::bad_alloc&) {
            dwMissed |= 1u << i;
        }
    }
    pQueue->MarkWatched(dwWatched);
    PostMissed(dwMissed);
}

void WaitWhileHeldByTest() {
    HANDLE hHold = OpenTestEvent(kTestHoldFormat);
    if (!hHold)
        return;
    HANDLE ahWait[2] = {hHold, hStopEvent};
    WaitForMultipleObjects(2, ahWait, FALSE, kTestHoldLimitMs);
    CloseHandle(hHold);
}

// Waits for the stop, a flush request, the watches' reads and the end of
// the files watches' rests; each watch's event is in the wait array while it reads, and
// only then. A flush ends every rest, so that the marks come through at once.
DWORD WINAPI WatchThread(void*) {
    OpenDriveWatches();
    SetEvent(hReadyEvent);
    WaitWhileHeldByTest();
    bool fFlushing = false;
    DWORD dwFlushStart = 0;
    // Fixed arrays: the loop needs no memory.
    HANDLE waits[2 + kMaxWatches];
    int watchOfWait[2 + kMaxWatches];
    for (;;) {
        EndRests(fFlushing);
        DWORD cWaits = 2;
        waits[0] = hStopEvent;
        waits[1] = hFlushEvent;
        for (int i = 0; i < cWatches; ++i) {
            if (aWatches[i].fReading) {
                waits[cWaits] = aWatches[i].overlapped.hEvent;
                watchOfWait[cWaits++] = i;
            }
        }
        DWORD dwTimeout = NextRestEnd();
        if (fFlushing) {
            DWORD dwWaited = GetTickCount() - dwFlushStart;
            dwTimeout = std::min({dwTimeout, NextQuietEnd(),
                                  dwWaited < kFlushMarkLimitMs ? kFlushMarkLimitMs - dwWaited : 0});
        }
        DWORD dwWait = WaitForMultipleObjects(cWaits, waits, FALSE, dwTimeout);
        if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_FAILED)
            break;
        DWORD iWait = dwWait - WAIT_OBJECT_0;
        if (iWait == 1) {
            EndRests(true);
            BeginFlush();
            fFlushing = true;
            dwFlushStart = GetTickCount();
        } else if (dwWait != WAIT_TIMEOUT && iWait < cWaits) {
            ServeCompletion(aWatches[watchOfWait[iWait]], watchOfWait[iWait]);
        }
        EndQuietDrains();
        if (fFlushing && GetTickCount() - dwFlushStart >= kFlushMarkLimitMs)
            GiveUpMarks();
        if (fFlushing && !AnyMarkAwaited()) {
            PostFlushed();
            fFlushing = false;
        }
    }
    for (int i = 0; i < cWatches; ++i) {
        wchar_t szRoot[4];
        lstrcpynW(szRoot, aWatches[i].szRoot, 4);
        CloseWatch(aWatches[i]);
        // A mark held during the flush may be free by now.
        try {
            RemoveLeftoverMarks(szRoot);
        } catch (const std::bad_alloc&) {
        }
    }
    cWatches = 0;
    return 0;
}

} // namespace

bool StartWatching(RecordQueue* pQueueArg) {
    if (hWatchThread)
        return true;
    pQueue = pQueueArg;
    ResetChangeReports();
    testFaults.fFailFilesWatches = TestAsks(kTestFailFilesWatchesFormat);
    testFaults.fNoFlushMarks = TestAsks(kTestNoFlushMarksFormat);
    testFaults.fOutOfMemory = TestAsks(kTestOutOfMemoryFormat);
    hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    hReadyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    hFlushEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (hStopEvent && hReadyEvent && hFlushEvent)
        hWatchThread = CreateThread(nullptr, 0, WatchThread, nullptr, 0, nullptr);
    if (!hWatchThread) {
        StopWatching();
        return false;
    }
    HANDLE ahWait[2] = {hReadyEvent, hWatchThread};
    WaitForMultipleObjects(2, ahWait, FALSE, INFINITE);
    return true;
}

void StopWatching() {
    EndThread(hWatchThread, hStopEvent);
    if (hStopEvent)
        CloseHandle(hStopEvent);
    if (hReadyEvent)
        CloseHandle(hReadyEvent);
    if (hFlushEvent)
        CloseHandle(hFlushEvent);
    hStopEvent = hReadyEvent = hFlushEvent = nullptr;
}

bool RequestFlush() {
    return hWatchThread && hFlushEvent && SetEvent(hFlushEvent);
}
