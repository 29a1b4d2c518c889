// The session's temporary folder and the path and folder operations that the
// undo procedures and the snapshots use.
#include "common/paths.h"

#include "common/strings.h"
#include "common/boxes.h"

#include "common/file_in_use.h"
#include "common/pathsearch.h"
#include "common/links.h"
#include "resources/resource.h"

#include <cstdio>
#include <cstring>
#include <string>

char szTempBase[MAX_PATH + 1];
char szTempDir[MAX_PATH + 16];

namespace {

// Null or empty paths are consistency failures; the operation goes on.
bool CheckPath(const char* pszPath, int iLine) {
    return TextGiven(pszPath, "util", iLine);
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

// A symbolic link or junction leads to what is never setup's to empty: a
// folder that is itself one is neither searched nor emptied, only removed.
bool IsLinkedFolder(const char* pszFolder) {
    return IsLinkItself(pszFolder, GetFileAttributesA(pszFolder));
}

// A drive root however it is written ("c:", "C:\.", "C:/", "c:\windows\..").
bool IsDriveRoot(const char* pszFolder) {
    if (std::strlen(pszFolder) < 4)
        return true;
    char szFull[MAX_PATH + 1];
    DWORD cch = GetFullPathNameA(pszFolder, sizeof szFull, szFull, nullptr);
    if (cch == 0 || cch >= sizeof szFull)
        return false;
    while (cch > 0 && (szFull[cch - 1] == '\\' || szFull[cch - 1] == '.'))
        --cch;
    return cch <= 2;
}

} // namespace

std::string JoinPath(const char* pszFolder, const char* pszName) {
    std::string path(pszFolder);
    if (!path.empty() && path.back() == '/')
        path.back() = '\\';
    else if (path.empty() || path.back() != '\\')
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
    // The last name tried belongs to someone else's folder, if to any.
    pszBuffer[0] = '\0';
    return 0;
}

void RemoveTempFolder() {
    if (!szTempDir[0])
        return;
    DeleteFolderFiles(szTempDir);
    RemoveFolder(szTempDir);
    // Once removed, the name may be taken by a folder that is not ours.
    szTempDir[0] = '\0';
}

int PathExists(const char* pszPath) {
    if (!CheckPath(pszPath, __LINE__))
        return 0;
    FoundEntry entry;
    return SearchPathEntry(pszPath, &entry) ? 1 : 0;
}

int DeleteFolderFiles(const char* pszFolder) {
    if (!CheckSearchFolder(pszFolder, __LINE__))
        return 0;
    if (IsDriveRoot(pszFolder))
        InternalErrorMsg(GetResString(IDS_DELETE_ROOT_DIR), "util", __LINE__);
    if (IsLinkedFolder(pszFolder))
        return 1;
    WIN32_FIND_DATAA data;
    FolderSearch search = OpenFolderSearch(JoinPath(pszFolder, "*.*").c_str(), &data);
    if (!search)
        return 1;
    int result = 1;
    do {
        std::string path = JoinPath(pszFolder, FoundName(data));
        if (IsFolder(data) && data.cFileName[0] == '.')
            continue;
        if (IsLinkItself(path.c_str(), data.dwFileAttributes)) {
            if (!RemoveLinkItself(path.c_str(), data.dwFileAttributes)) {
                MessageBoxFmt(GetResString(IDS_CANNOT_DELETE_FILE), path.c_str());
                result = 0;
                break;
            }
        } else if (IsFolder(data)) {
            if (!DeleteFolderFiles(path.c_str()) || RemoveFolder(path.c_str()) != 0) {
                result = 0;
                break;
            }
        } else if (DeleteFileForce(path.c_str()) != 0) {
            MessageBoxFmt(GetResString(IDS_CANNOT_DELETE_FILE), path.c_str());
            result = 0;
            break;
        }
    } while (FindNextFileA(search.get(), &data));
    return result;
}

int FindFileInUse(const char* pszFolder, const char* pszShown) {
    if (!CheckSearchFolder(pszFolder, __LINE__))
        return 0;
    if (IsDriveRoot(pszFolder))
        InternalErrorMsg(GetResString(IDS_ROOT_DIR_EXCEPTION), "util", __LINE__);
    if (IsLinkedFolder(pszFolder))
        return 0;
    WIN32_FIND_DATAA data;
    FolderSearch search = OpenFolderSearch(JoinPath(pszFolder, "*.*").c_str(), &data);
    if (!search)
        return 0;
    int found = 0;
    do {
        std::string path = JoinPath(pszFolder, FoundName(data));
        if (IsLinkItself(path.c_str(), data.dwFileAttributes)) {
            // Removing a link does not need what it leads to.
        } else if (IsFolder(data)) {
            if (data.cFileName[0] != '.' && FindFileInUse(path.c_str(), pszShown))
                found = 1;
        } else if (IsFileInUse(path.c_str())) {
            char szText[1200];
            std::snprintf(szText, sizeof szText, GetResString(IDS_FILE_IN_USE_IN_FOLDER),
                          path.c_str(), pszShown ? pszShown : "");
            UninstMessageBox(szText, MB_ICONHAND);
            found = 1;
        }
    } while (!found && FindNextFileA(search.get(), &data));
    return found;
}

void WalkFolderTree(const std::string& folder,
                    const std::function<void(const std::string& path, bool fFolder)>& visit) {
    WIN32_FIND_DATAA data;
    FolderSearch search = OpenFolderSearch(JoinPath(folder.c_str(), "*.*").c_str(), &data);
    if (!search)
        return;
    do {
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0)
            continue;
        std::string path = JoinPath(folder.c_str(), FoundName(data));
        bool fFolder = IsFolder(data) && !IsLinkItself(path.c_str(), data.dwFileAttributes);
        visit(path, fFolder);
        if (fFolder)
            WalkFolderTree(path, visit);
    } while (FindNextFileA(search.get(), &data));
}

int RemoveFolder(const char* pszFolder) {
    if (!PathExists(pszFolder))
        return 0;
    DWORD dwAttributes = GetFileAttributesA(pszFolder);
    if (IsLinkItself(pszFolder, dwAttributes))
        return RemoveLinkItself(pszFolder, dwAttributes) ? 0 : 1;
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
    DWORD dwAttributes = GetFileAttributesA(pszFile);
    if (IsLinkItself(pszFile, dwAttributes))
        return RemoveLinkItself(pszFile, dwAttributes) ? 0 : 1;
    if (DeleteFileA(pszFile))
        return 0;
    dwAttributes = GetFileAttributesA(pszFile);
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
