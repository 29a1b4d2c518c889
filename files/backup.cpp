// Backs up AUTOEXEC.BAT, CONFIG.SYS and their variants, REG.DAT and the .ini
// files of the Windows folder before setup, so that an altered one can be
// put back. Each copy is recorded in BackupList with the file's size and
// last-write time for the comparison after setup.
#include "files/backup.h"

#include "common/pathsearch.h"
#include "common/util.h"
#include "files/lists.h"
#include "resources/resource.h"

#include <string>

namespace {

// Start-up files of drive C: each is optional.
const UINT kStartupFiles[] = {IDS_AUTOEXEC_BAT, IDS_CONFIG_SYS,   IDS_AUTOEXEC_DOS,
                              IDS_CONFIG_DOS,   IDS_AUTOEXEC_W40, IDS_CONFIG_W40};

HANDLE OpenForTimes(const char* pszPath, DWORD dwAccess) {
    return CreateFileA(pszPath, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

int CopyFileTimes(const char* pszTarget, const char* pszSource) {
    HANDLE hSource = OpenForTimes(pszSource, GENERIC_READ);
    if (hSource == INVALID_HANDLE_VALUE)
        InternalErrorMsg(GetResString(IDS_CANNOT_SET_FILE_TIME), "File", __LINE__);
    FILETIME ftCreation, ftAccess, ftWrite;
    BOOL fRead = GetFileTime(hSource, &ftCreation, &ftAccess, &ftWrite);
    CloseHandle(hSource);
    if (!fRead)
        InternalErrorMsg(GetResString(IDS_CANNOT_GET_FILE_TIME), "File", __LINE__);
    HANDLE hTarget = OpenForTimes(pszTarget, GENERIC_READ | GENERIC_WRITE);
    if (hTarget == INVALID_HANDLE_VALUE) {
        // A read-only file cannot be opened for writing its times; only that
        // attribute is cleared, and it stays cleared.
        DWORD dwAttributes = GetFileAttributesA(pszTarget);
        if (dwAttributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesA(pszTarget, dwAttributes & ~FILE_ATTRIBUTE_READONLY);
        hTarget = OpenForTimes(pszTarget, GENERIC_READ | GENERIC_WRITE);
    }
    if (hTarget == INVALID_HANDLE_VALUE)
        InternalErrorMsg(GetResString(IDS_CANNOT_GET_FILE_TIME), "File", __LINE__);
    SetFileTime(hTarget, &ftCreation, &ftAccess, &ftWrite);
    CloseHandle(hTarget);
    return 1;
}

int BackupFile(const char* pszFolder, const char* pszName) {
    if (!pszFolder || !*pszFolder || !pszName || !*pszName) {
        InternalError("File", __LINE__);
        return 0;
    }
    std::string copy = JoinPath(szTempDir, pszName);
    std::string file = JoinPath(pszFolder, pszName);
    if (!CopyFileA(file.c_str(), copy.c_str(), FALSE))
        return 0;
    CopyFileTimes(file.c_str(), copy.c_str());
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(file.c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(hFind);
    AddFileEntry(&BackupList, file.c_str(), data.nFileSizeLow, data.ftLastWriteTime, nullptr);
    return 1;
}

int BackupSystemFiles() {
    for (UINT uId : kStartupFiles)
        BackupFile(RootDir, GetResString(uId));
    BackupFile(WinDir, GetResString(IDS_REG_DAT));

    std::string progman = GetResString(IDS_PROGMAN_INI);
    std::string pattern = JoinPath(WinDir, GetResString(IDS_INI_PATTERN));
    WIN32_FIND_DATAA data;
    HANDLE hFind = OpenFolderSearch(pattern.c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return 1;
    int result = 1;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const char* pszName = FoundName(data);
        if (lstrcmpiA(pszName, progman.c_str()) == 0)
            continue;
        if (!BackupFile(WinDir, pszName)) {
            result = 0;
            break;
        }
    } while (FindNextFileA(hFind, &data));
    CloseFolderSearch(hFind);
    return result;
}
