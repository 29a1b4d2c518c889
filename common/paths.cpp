// The session's temporary folder and the path and folder operations that the
// undo procedures and the snapshots use.
#include "common/util.h"

#include "actions/deaction.h"
#include "common/pathsearch.h"
#include "resources/resource.h"

#include <cstdio>
#include <cstring>
#include <string>

char szTempBase[MAX_PATH + 1];
char szTempDir[MAX_PATH + 16];

namespace {

// Null or empty paths are consistency failures; the operation goes on.
bool CheckPath(const char* pszPath, int iLine) {
    if (pszPath && *pszPath)
        return true;
    InternalError("util", iLine);
    return false;
}

// The recursive operations also refuse a path that begins with a blank.
bool CheckSearchFolder(const char* pszFolder, int iLine) {
    if (!CheckPath(pszFolder, iLine))
        return false;
    if (pszFolder[0] == ' ')
        InternalError("util", iLine);
    return true;
}

bool IsFolder(const WIN32_FIND_DATAA& data) {
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

std::string JoinPath(const char* pszFolder, const char* pszName) {
    std::string path(pszFolder);
    if (path.empty() || path.back() != '\\')
        path += '\\';
    path += pszName;
    return path;
}

void FindTempBase() {
    static const char* const apszVariables[] = {"ZAVUV", "TMP", "TEMP"};
    for (const char* pszVariable : apszVariables) {
        char szValue[sizeof szTempBase];
        DWORD cch = GetEnvironmentVariableA(pszVariable, szValue, sizeof szValue);
        // Missing, empty, or too long to leave room for the backslash.
        if (cch == 0 || cch >= sizeof szValue - 1)
            continue;
        if (szValue[1] != ':' || std::strchr(szValue, ' '))
            continue;
        std::strcpy(szTempBase, szValue);
        AddBackslash(szTempBase);
        return;
    }
    std::strcpy(szTempBase, "c:\\");
}

int CreateTempFolder(char* pszBuffer) {
    for (DWORD i = 0; i < 100; ++i) {
        DWORD dwNumber = (GetTickCount() & 0xFFFF) + i;
        std::snprintf(pszBuffer, sizeof szTempDir, "%str%lx", szTempBase,
                      static_cast<unsigned long>(dwNumber));
        if (CreateDirectoryA(pszBuffer, nullptr))
            return 1;
    }
    return 0;
}

int PathExists(const char* pszPath) {
    if (!CheckPath(pszPath, __LINE__))
        return 0;
    FoundEntry entry;
    return SearchPathEntry(pszPath, &entry) ? 1 : 0;
}

int FolderHasFiles(const char* pszFolder) {
    if (!CheckSearchFolder(pszFolder, __LINE__))
        return 0;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(JoinPath(pszFolder, "*.*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(hFind);
    return 1;
}

int DeleteFolderFiles(const char* pszFolder) {
    if (!CheckSearchFolder(pszFolder, __LINE__))
        return 0;
    if (std::strlen(pszFolder) < 4)
        InternalErrorMsg(GetResString(IDS_DELETE_ROOT_DIR), "util", __LINE__);
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(JoinPath(pszFolder, "*.*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return 1;
    int result = 1;
    do {
        std::string path = JoinPath(pszFolder, FoundName(data));
        if (IsFolder(data)) {
            if (data.cFileName[0] == '.')
                continue;
            if (!DeleteFolderFiles(path.c_str()) || RemoveFolder(path.c_str()) != 0) {
                result = 0;
                break;
            }
        } else if (DeleteFileForce(path.c_str()) != 0) {
            MessageBoxFmt(GetResString(IDS_CANNOT_DELETE_FILE), path.c_str());
            result = 0;
            break;
        }
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return result;
}

int FindFileInUse(const char* pszFolder, const char* pszShown) {
    if (!CheckSearchFolder(pszFolder, __LINE__))
        return 0;
    if (std::strlen(pszFolder) < 4)
        InternalErrorMsg(GetResString(IDS_ROOT_DIR_EXCEPTION), "util", __LINE__);
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(JoinPath(pszFolder, "*.*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    int found = 0;
    do {
        std::string path = JoinPath(pszFolder, FoundName(data));
        if (IsFolder(data)) {
            if (data.cFileName[0] != '.' && FindFileInUse(path.c_str(), pszShown))
                found = 1;
        } else if (IsFileInUse(path.c_str())) {
            char szText[1200];
            std::snprintf(szText, sizeof szText, GetResString(IDS_FILE_IN_USE_IN_FOLDER),
                          path.c_str(), pszShown ? pszShown : "");
            UninstMessageBox(szText, MB_ICONHAND);
            found = 1;
        }
    } while (!found && FindNextFileA(hFind, &data));
    FindClose(hFind);
    return found;
}

int RemoveFolder(const char* pszFolder) {
    if (!PathExists(pszFolder))
        return 0;
    return RemoveDirectoryA(pszFolder) ? 0 : 1;
}

int ChangeFolder(const char* pszFolder) {
    if (!CheckPath(pszFolder, __LINE__))
        return 1;
    return SetCurrentDirectoryA(pszFolder) ? 0 : 1;
}

int DeleteFileForce(const char* pszFile) {
    if (!PathExists(pszFile))
        return 0;
    if (DeleteFileA(pszFile))
        return 0;
    DWORD dwAttributes = GetFileAttributesA(pszFile);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(pszFile, dwAttributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileA(pszFile) ? 0 : 1;
}

void AddBackslash(char* pszPath) {
    if (!CheckPath(pszPath, __LINE__))
        return;
    size_t cch = std::strlen(pszPath);
    if (pszPath[cch - 1] == '/')
        pszPath[cch - 1] = '\\';
    else if (pszPath[cch - 1] != '\\') {
        pszPath[cch] = '\\';
        pszPath[cch + 1] = '\0';
    }
}

void StripBackslash(char* pszPath) {
    if (!CheckPath(pszPath, __LINE__))
        return;
    size_t cch = std::strlen(pszPath);
    if (pszPath[cch - 1] == '\\')
        pszPath[cch - 1] = '\0';
}

char* LowerString(char* pszText) {
    if (CheckPath(pszText, __LINE__))
        CharLowerA(pszText);
    return pszText;
}
