// The driver loader of our own: device paths of drivers, their handles, the
// calls into a loaded driver, and its unloading.
#include "monitor/vxdload.h"

#include "common/strings.h"

#include <cstring>

namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr size_t kDevicePrefixChars = sizeof kDevicePrefix - 1;
constexpr char kVxdExtension[] = ".vxd";
constexpr int kMaxVxdHandles = 32;

// One open handle of the loader. The caller holds hToken, an unnamed event
// that serves only as a unique handle value.
struct VXDHANDLE {
    HANDLE hToken;
    HMODULE hModule; // none for a probe handle
    PFNDRIVERCONTROL pfnControl;
};

class VxdHandleTable {
  public:
    VxdHandleTable() { InitializeCriticalSection(&lock_); }
    ~VxdHandleTable() { DeleteCriticalSection(&lock_); }

    bool Add(const VXDHANDLE& entry) {
        EnterCriticalSection(&lock_);
        bool fAdded = false;
        for (VXDHANDLE& slot : slots_) {
            if (!slot.hToken) {
                slot = entry;
                fAdded = true;
                break;
            }
        }
        LeaveCriticalSection(&lock_);
        return fAdded;
    }
    bool Find(HANDLE hToken, VXDHANDLE* pEntry) { return Lookup(hToken, pEntry, false); }
    bool Remove(HANDLE hToken, VXDHANDLE* pEntry) { return Lookup(hToken, pEntry, true); }

  private:
    bool Lookup(HANDLE hToken, VXDHANDLE* pEntry, bool fRemove) {
        if (!hToken || hToken == INVALID_HANDLE_VALUE)
            return false;
        EnterCriticalSection(&lock_);
        bool fFound = false;
        for (VXDHANDLE& slot : slots_) {
            if (slot.hToken == hToken) {
                *pEntry = slot;
                if (fRemove)
                    slot = VXDHANDLE{};
                fFound = true;
                break;
            }
        }
        LeaveCriticalSection(&lock_);
        return fFound;
    }

    CRITICAL_SECTION lock_;
    VXDHANDLE slots_[kMaxVxdHandles] = {};
};

VxdHandleTable handleTable;

bool IsDevicePath(const char* pszPath) {
    return pszPath && CompareNoCaseN(pszPath, kDevicePrefix, kDevicePrefixChars) == 0;
}

bool HasVxdExtension(const char* pszName) {
    size_t cch = std::strlen(pszName);
    size_t cchExtension = sizeof kVxdExtension - 1;
    return cch > cchExtension && CompareNoCase(pszName + cch - cchExtension, kVxdExtension) == 0;
}

const char* FileNamePart(const char* pszPath) {
    const char* pszName = pszPath;
    for (const char* p = pszPath; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':')
            pszName = p + 1;
    return pszName;
}

bool IsExistingFile(const char* pszPath) {
    DWORD dwAttributes = GetFileAttributesA(pszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Joins folder and name into pszFound when the file exists there.
bool FindInFolder(const char* pszFolder, size_t cchFolder, const char* pszName, char* pszFound) {
    size_t cchName = std::strlen(pszName);
    if (cchFolder == 0 || cchFolder + 1 + cchName >= MAX_PATH)
        return false;
    std::memcpy(pszFound, pszFolder, cchFolder);
    size_t cch = cchFolder;
    if (pszFound[cch - 1] != '\\')
        pszFound[cch++] = '\\';
    std::memcpy(pszFound + cch, pszName, cchName + 1);
    return IsExistingFile(pszFound);
}

// A driver named without a folder is looked for in the current folder, then
// in each folder of PATH; a name with a folder only there.
bool FindDriverFile(const char* pszName, char* pszFound) {
    if (FileNamePart(pszName) != pszName) {
        if (std::strlen(pszName) >= MAX_PATH || !IsExistingFile(pszName))
            return false;
        std::strcpy(pszFound, pszName);
        return true;
    }
    char szFolder[MAX_PATH];
    DWORD cchFolder = GetCurrentDirectoryA(sizeof szFolder, szFolder);
    if (cchFolder < sizeof szFolder && FindInFolder(szFolder, cchFolder, pszName, pszFound))
        return true;
    char szSearchPath[4096];
    DWORD cchSearchPath = GetEnvironmentVariableA("PATH", szSearchPath, sizeof szSearchPath);
    if (cchSearchPath == 0 || cchSearchPath >= sizeof szSearchPath)
        return false;
    for (const char* pszFolder = szSearchPath; *pszFolder;) {
        const char* pszEnd = std::strchr(pszFolder, ';');
        size_t cch = pszEnd ? static_cast<size_t>(pszEnd - pszFolder) : std::strlen(pszFolder);
        if (FindInFolder(pszFolder, cch, pszName, pszFound))
            return true;
        pszFolder += pszEnd ? cch + 1 : cch;
    }
    return false;
}

HANDLE AddHandle(HMODULE hModule, PFNDRIVERCONTROL pfnControl) {
    HANDLE hToken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!hToken)
        return INVALID_HANDLE_VALUE;
    if (!handleTable.Add({hToken, hModule, pfnControl})) {
        CloseHandle(hToken);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    return hToken;
}

HANDLE LoadDriver(const char* pszName) {
    char szFile[MAX_PATH];
    if (!FindDriverFile(pszName, szFile)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HMODULE hModule = LoadLibraryA(szFile);
    if (!hModule)
        return INVALID_HANDLE_VALUE;
    auto pfnControl = reinterpret_cast<PFNDRIVERCONTROL>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "DeviceIoControl")));
    if (!pfnControl) {
        FreeLibrary(hModule);
        SetLastError(ERROR_PROC_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE hDevice = AddHandle(hModule, pfnControl);
    if (hDevice == INVALID_HANDLE_VALUE) {
        FreeLibrary(hModule);
        return INVALID_HANDLE_VALUE;
    }
    pfnControl(kDiocOpen, nullptr, 0, nullptr, 0, nullptr, nullptr);
    return hDevice;
}

// Whether a driver NAME.VXD announces itself as loaded somewhere.
bool IsDriverLoaded(const char* pszName) {
    char szFile[64];
    char szLoadedName[96];
    size_t cchName = std::strlen(pszName);
    if (cchName + sizeof kVxdExtension > sizeof szFile)
        return false;
    std::memcpy(szFile, pszName, cchName);
    std::memcpy(szFile + cchName, kVxdExtension, sizeof kVxdExtension);
    if (!BuildVxdLoadedName(szFile, szLoadedName, sizeof szLoadedName))
        return false;
    HANDLE hLoaded = OpenMutexA(SYNCHRONIZE, FALSE, szLoadedName);
    if (!hLoaded)
        return false;
    CloseHandle(hLoaded);
    return true;
}

// Whether the kernel knows NAME as a device of its own (C:, COM1, NUL).
bool IsKernelDevice(const char* pszName) {
    char szTarget[1024];
    return QueryDosDeviceA(pszName, szTarget, sizeof szTarget) != 0 ||
           GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

HANDLE WINAPI LoaderOpenVxDHandle(HANDLE hEvent) {
    return hEvent;
}

} // namespace

HANDLE VxdCreateFile(const char* pszPath, DWORD dwAccess, DWORD dwShare,
                     SECURITY_ATTRIBUTES* pSecurity, DWORD dwDisposition, DWORD dwFlags,
                     HANDLE hTemplate) {
    if (!IsDevicePath(pszPath))
        return CreateFileA(pszPath, dwAccess, dwShare, pSecurity, dwDisposition, dwFlags,
                           hTemplate);
    const char* pszName = pszPath + kDevicePrefixChars;
    if (HasVxdExtension(pszName)) {
        if (!(dwFlags & FILE_FLAG_DELETE_ON_CLOSE)) {
            // Only dynamic loading is offered: the driver leaves with its last handle.
            SetLastError(ERROR_NOT_SUPPORTED);
            return INVALID_HANDLE_VALUE;
        }
        return LoadDriver(pszName);
    }
    // "\\.\NAME" of a loaded driver opens a probe handle. Without one the
    // name is refused here: a Windows 95 mode kernel that has a loader of its
    // own (32-bit Wine) would load NAME.VXD from the search path on such an
    // open and keep it for the life of the process, out of this loader's
    // reach. The kernel's own devices (drives, ports, NUL) still open.
    if (!std::strchr(pszName, '.') && !std::strchr(pszName, '\\')) {
        if (IsDriverLoaded(pszName))
            return AddHandle(nullptr, nullptr);
        if (!IsKernelDevice(pszName)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
    }
    return CreateFileA(pszPath, dwAccess, dwShare, pSecurity, dwDisposition, dwFlags, hTemplate);
}

BOOL VxdDeviceIoControl(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD cbIn, void* pOut,
                        DWORD cbOut, DWORD* pcbReturned, OVERLAPPED* pOverlapped) {
    VXDHANDLE entry;
    if (!handleTable.Find(hDevice, &entry))
        return DeviceIoControl(hDevice, dwCode, pIn, cbIn, pOut, cbOut, pcbReturned, pOverlapped);
    if (!entry.pfnControl) {
        // A probe handle: the driver belongs to someone else.
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    return entry.pfnControl(dwCode, pIn, cbIn, pOut, cbOut, pcbReturned, pOverlapped);
}

BOOL VxdCloseHandle(HANDLE hDevice) {
    VXDHANDLE entry;
    if (!handleTable.Remove(hDevice, &entry))
        return CloseHandle(hDevice);
    if (entry.pfnControl)
        entry.pfnControl(kDiocCloseHandle, nullptr, 0, nullptr, 0, nullptr, nullptr);
    if (entry.hModule)
        FreeLibrary(entry.hModule);
    return CloseHandle(entry.hToken);
}

FARPROC VxdGetProcAddress(HMODULE hModule, const char* pszName) {
    // A driver of this loader runs in the caller's process and is signalled
    // through the caller's own event handle.
    if (hModule && hModule == GetModuleHandleA("kernel32") && pszName &&
        std::strcmp(pszName, "OpenVxDHandle") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(LoaderOpenVxDHandle));
    return GetProcAddress(hModule, pszName);
}
