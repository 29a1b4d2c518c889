// Watching the fixed drives: two subtree watches per drive, one that sees
// only folders and one that sees only files, served by one thread that turns
// each change into a record of the ring.
#include "driver/watch.h"

#include "monitor/protocol.h"

#include <string>
#include <vector>

namespace {

// Changes that pile up beyond a watch's buffer before it is read are lost,
// so the buffer holds several seconds of the fastest setup's changes.
constexpr DWORD kWatchBufferBytes = 4 * 1024 * 1024;
constexpr int kMaxWatches = 2 * 26;
constexpr char kUnixDriveFolder[] = "/dosdevices/";

struct WATCH {
    wchar_t szRoot[4]; // "C:\"
    bool fFolders;     // sees folders only, else files only
    HANDLE hDirectory;
    OVERLAPPED overlapped;
    void* pBuffer; // page-aligned, as the notification records must be aligned
    bool fReading;
    bool fOldNamePending; // a rename's old name waiting for its new name
    std::wstring oldName;
};

// A folder renamed while watched keeps its old name in the platform's later
// notifications about what happens inside it (measured under Wine): each
// folder rename of a drive is kept, newest last, to find where such an item
// really is.
struct FOLDER_RENAME {
    std::wstring oldName; // relative to the drive root
    std::wstring newName;
};

WATCH aWatches[kMaxWatches];
std::vector<FOLDER_RENAME> aFolderRenames[26];
int cWatches;
RecordQueue* pQueue;
HANDLE hWatchThread;
HANDLE hStopEvent;
HANDLE hReadyEvent;

typedef char*(CDECL* PFNUNIXFILENAME)(LPCWSTR pszDosName);

// The host folder of a drive, where the platform maps drives onto one;
// empty elsewhere.
std::string HostFolderOf(const wchar_t* pszPath) {
    auto pfnUnixName = reinterpret_cast<PFNUNIXFILENAME>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    if (!pfnUnixName)
        return {};
    char* pszUnix = pfnUnixName(pszPath);
    if (!pszUnix)
        return {};
    std::string unixName = pszUnix;
    HeapFree(GetProcessHeap(), 0, pszUnix);
    return unixName;
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
    std::string windowsHost = HostFolderOf(szWindows);
    if (windowsHost.empty())
        return true;
    size_t cchMachine = windowsHost.find(kUnixDriveFolder);
    if (cchMachine == std::string::npos)
        return false;
    std::string driveFolders = windowsHost.substr(0, cchMachine + sizeof kUnixDriveFolder - 1);
    return HostFolderOf(pszRoot).compare(0, driveFolders.size(), driveFolders) == 0;
}

bool IssueRead(WATCH& watch) {
    DWORD dwFilter = watch.fFolders ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
    ResetEvent(watch.overlapped.hEvent);
    watch.fReading = ReadDirectoryChangesW(watch.hDirectory, watch.pBuffer, kWatchBufferBytes, TRUE,
                                           dwFilter, nullptr, &watch.overlapped, nullptr);
    return watch.fReading;
}

bool OpenWatch(const wchar_t* pszRoot, bool fFolders) {
    if (cWatches >= kMaxWatches)
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
    watch.fOldNamePending = false;
    watch.oldName.clear();
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

// The ANSI form of a text; false when a character has none.
bool ToAnsi(const std::wstring& text, std::string* pAnsi) {
    pAnsi->clear();
    if (text.empty())
        return true;
    BOOL fDefaultUsed = FALSE;
    int cchText = static_cast<int>(text.size());
    int cch = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), cchText, nullptr, 0,
                                  nullptr, &fDefaultUsed);
    if (cch <= 0 || fDefaultUsed)
        return false;
    pAnsi->assign(static_cast<size_t>(cch), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), cchText, pAnsi->data(), cch,
                        nullptr, nullptr);
    return true;
}

// The full ANSI path of a name below a drive root. A folder or file name
// without an ANSI form is replaced by its short name, which names the same
// item; when the item has none (or is gone) there is no path: stand-in
// characters could name a different item.
bool AnsiPath(const wchar_t* pszRoot, const std::wstring& relative, std::string* pPath) {
    std::wstring wide = pszRoot;
    if (!ToAnsi(wide, pPath))
        return false;
    for (size_t start = 0; start < relative.size();) {
        size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos)
            end = relative.size();
        std::wstring component = relative.substr(start, end - start);
        std::string ansi;
        if (!ToAnsi(component, &ansi)) {
            WIN32_FIND_DATAW found;
            HANDLE hFind = FindFirstFileW((L"\\\\?\\" + wide + component).c_str(), &found);
            if (hFind == INVALID_HANDLE_VALUE)
                return false;
            FindClose(hFind);
            if (!found.cAlternateFileName[0] || !ToAnsi(found.cAlternateFileName, &ansi))
                return false;
        }
        *pPath += ansi;
        wide += component;
        if (end < relative.size()) {
            *pPath += '\\';
            wide += L'\\';
        }
        start = end + 1;
    }
    return true;
}

std::vector<FOLDER_RENAME>& FolderRenamesOf(const WATCH& watch) {
    return aFolderRenames[(watch.szRoot[0] - L'A') % 26];
}

bool ExistsBelowRoot(const WATCH& watch, const std::wstring& relative) {
    return GetFileAttributesW((L"\\\\?\\" + std::wstring(watch.szRoot) + relative).c_str()) !=
           INVALID_FILE_ATTRIBUTES;
}

std::wstring ParentOf(const std::wstring& relative) {
    size_t cch = relative.rfind(L'\\');
    return cch == std::wstring::npos ? std::wstring() : relative.substr(0, cch);
}

// Where a reported name really is: the name itself when it fits what
// happened (the item is there after a creation; its folder is there after a
// removal), else the name seen through the newest folder renames that fits.
std::wstring CurrentName(const WATCH& watch, const std::wstring& name, bool fPresent) {
    const std::vector<FOLDER_RENAME>& renames = FolderRenamesOf(watch);
    auto fits = [&](const std::wstring& candidate) {
        return fPresent
                   ? ExistsBelowRoot(watch, candidate)
                   : ParentOf(candidate).empty() || ExistsBelowRoot(watch, ParentOf(candidate));
    };
    if (renames.empty() || fits(name))
        return name;
    std::wstring candidate = name;
    for (auto it = renames.rbegin(); it != renames.rend(); ++it) {
        const std::wstring& oldName = it->oldName;
        if (candidate.size() > oldName.size() && candidate[oldName.size()] == L'\\' &&
            _wcsnicmp(candidate.c_str(), oldName.c_str(), oldName.size()) == 0) {
            candidate = it->newName + candidate.substr(oldName.size());
            if (fits(candidate))
                return candidate;
        }
    }
    // An item created and gone again before this is read: its folder tells.
    return fPresent ? CurrentName(watch, name, false) : name;
}

// Writes one record. A rename of which only one name has an ANSI path is
// reported as the removal or the creation that it is for that name.
void Report(const WATCH& watch, DWORD dwOperation, const std::wstring& reported,
            const std::wstring* pReportedNew) {
    bool fCreation = dwOperation == kOpFolderCreated || dwOperation == kOpFileCreated;
    std::wstring name = CurrentName(watch, reported, fCreation);
    std::string path, newPath;
    bool fPath = AnsiPath(watch.szRoot, name, &path);
    if (!pReportedNew) {
        if (fPath)
            pQueue->Post(dwOperation, std::move(path), {});
        return;
    }
    std::wstring newName = CurrentName(watch, *pReportedNew, true);
    if (watch.fFolders)
        FolderRenamesOf(watch).push_back({name, newName});
    bool fNewPath = AnsiPath(watch.szRoot, newName, &newPath);
    if (fPath && fNewPath)
        pQueue->Post(dwOperation, std::move(path), std::move(newPath));
    else if (fPath)
        pQueue->Post(watch.fFolders ? kOpFolderRemoved : kOpFileDeleted, std::move(path), {});
    else if (fNewPath)
        pQueue->Post(watch.fFolders ? kOpFolderCreated : kOpFileCreated, std::move(newPath), {});
}

void ReportOrphanOldName(WATCH& watch) {
    if (!watch.fOldNamePending)
        return;
    watch.fOldNamePending = false;
    Report(watch, watch.fFolders ? kOpFolderRemoved : kOpFileDeleted, watch.oldName, nullptr);
}

void HandleChange(WATCH& watch, DWORD dwAction, std::wstring name) {
    DWORD dwCreated = watch.fFolders ? kOpFolderCreated : kOpFileCreated;
    DWORD dwRemoved = watch.fFolders ? kOpFolderRemoved : kOpFileDeleted;
    if (dwAction == FILE_ACTION_RENAMED_NEW_NAME) {
        if (watch.fOldNamePending) {
            watch.fOldNamePending = false;
            Report(watch, kOpRenamed, watch.oldName, &name);
        } else {
            Report(watch, dwCreated, name, nullptr);
        }
        return;
    }
    // A rename's old name without its new name: the item left the drive.
    ReportOrphanOldName(watch);
    if (dwAction == FILE_ACTION_RENAMED_OLD_NAME) {
        watch.oldName = std::move(name);
        watch.fOldNamePending = true;
    } else if (dwAction == FILE_ACTION_ADDED) {
        Report(watch, dwCreated, name, nullptr);
    } else if (dwAction == FILE_ACTION_REMOVED) {
        Report(watch, dwRemoved, name, nullptr);
    }
}

// Walks the records of one completed read, never past the bytes it returned.
void HandleBuffer(WATCH& watch, DWORD cbReturned) {
    const BYTE* pStart = static_cast<const BYTE*>(watch.pBuffer);
    DWORD dwOffset = 0;
    const DWORD cbHeader = offsetof(FILE_NOTIFY_INFORMATION, FileName);
    while (dwOffset + cbHeader <= cbReturned) {
        auto* pInfo = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(pStart + dwOffset);
        if (pInfo->FileNameLength > cbReturned - dwOffset - cbHeader)
            break;
        HandleChange(watch, pInfo->Action,
                     std::wstring(pInfo->FileName, pInfo->FileNameLength / sizeof(WCHAR)));
        if (pInfo->NextEntryOffset == 0)
            break;
        dwOffset += pInfo->NextEntryOffset;
    }
}

DWORD WINAPI WatchThread(void*) {
    wchar_t szRoot[4] = L"A:\\";
    DWORD dwDrives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        szRoot[0] = static_cast<wchar_t>(L'A' + i);
        if (!(dwDrives & (1u << i)) || !IsOwnFixedDrive(szRoot))
            continue;
        bool fFolders = OpenWatch(szRoot, true);
        bool fFiles = OpenWatch(szRoot, false);
        if (fFolders || fFiles)
            BringFoldersUnderWatch(szRoot);
    }
    SetEvent(hReadyEvent);
    std::vector<HANDLE> waits{hStopEvent};
    for (int i = 0; i < cWatches; ++i)
        waits.push_back(aWatches[i].overlapped.hEvent);
    for (;;) {
        DWORD dwWait =
            WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, INFINITE);
        if (dwWait == WAIT_OBJECT_0 || dwWait >= WAIT_OBJECT_0 + waits.size())
            break;
        WATCH& watch = aWatches[dwWait - WAIT_OBJECT_0 - 1];
        DWORD cbReturned = 0;
        watch.fReading = false;
        if (GetOverlappedResult(watch.hDirectory, &watch.overlapped, &cbReturned, FALSE))
            HandleBuffer(watch, cbReturned);
        if (!IssueRead(watch))
            waits[dwWait - WAIT_OBJECT_0] = hStopEvent;
    }
    for (int i = 0; i < cWatches; ++i) {
        ReportOrphanOldName(aWatches[i]);
        CloseWatch(aWatches[i]);
    }
    cWatches = 0;
    for (std::vector<FOLDER_RENAME>& renames : aFolderRenames)
        renames.clear();
    return 0;
}

} // namespace

bool StartWatching(RecordQueue* pQueueArg) {
    if (hWatchThread)
        return true;
    pQueue = pQueueArg;
    hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    hReadyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (hStopEvent && hReadyEvent)
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
    if (hWatchThread) {
        SetEvent(hStopEvent);
        WaitForSingleObject(hWatchThread, INFINITE);
        CloseHandle(hWatchThread);
        hWatchThread = nullptr;
    }
    if (hStopEvent)
        CloseHandle(hStopEvent);
    if (hReadyEvent)
        CloseHandle(hReadyEvent);
    hStopEvent = hReadyEvent = nullptr;
}
