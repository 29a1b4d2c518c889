// Directory lists of the Windows and system folders: one flat search per
// folder, sorted once, so that the comparison after setup is a merge pass.
#include "files/lists.h"

#include "common/pathsearch.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "common/paths.h"
#include "files/backup.h"
#include "resources/resource.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

DIRFILE* WinBefore;
DIRFILE* WinAfter;
DIRFILE* SysBefore;
DIRFILE* SysAfter;
DIRFILE* BackupList;
char WinDir[261];
char SysDir[261];
char RootDir[4];

namespace {

bool CheckText(const char* pszText, int iLine) {
    return TextGiven(pszText, "File", iLine);
}

// Reads a system folder into a 261-character buffer with a backslash
// appended; a folder the system cannot report leaves the buffer empty.
void ReadSystemFolder(UINT (*pfnRead)(LPSTR, UINT), char* pszFolder) {
    constexpr UINT cchRoom = 261 - 1; // one character for the backslash
    UINT cch = pfnRead(pszFolder, cchRoom);
    if (cch == 0 || cch >= cchRoom) {
        pszFolder[0] = '\0';
        return;
    }
    AddBackslash(pszFolder);
}

UINT ReadWindowsFolder(LPSTR pszBuffer, UINT cch) {
    return GetWindowsDirectoryA(pszBuffer, cch);
}

UINT ReadSystemFolderPath(LPSTR pszBuffer, UINT cch) {
    return GetSystemDirectoryA(pszBuffer, cch);
}

} // namespace

int SnapshotSystemFolders() {
    std::strcpy(RootDir, "c:\\");
    ReadSystemFolder(ReadWindowsFolder, WinDir);
    ReadSystemFolder(ReadSystemFolderPath, SysDir);
    if (!BackupSystemFiles())
        return 0;
    DWORD dwCount = 0;
    ListFolderFiles(WinDir, &WinBefore, &dwCount);
    SortFileList(&WinBefore, dwCount);
    ListFolderFiles(SysDir, &SysBefore, &dwCount);
    SortFileList(&SysBefore, dwCount);
    return 1;
}

int ListFolderFiles(const char* pszFolder, DIRFILE** ppList, DWORD* pdwCount) {
    *ppList = nullptr;
    *pdwCount = 0;
    if (!CheckText(pszFolder, __LINE__))
        return 1;
    std::string pattern = JoinPath(pszFolder, "*.*");
    WIN32_FIND_DATAA data;
    FolderSearch search = OpenFolderSearch(pattern.c_str(), &data);
    if (!search)
        return 1;
    std::string grpSuffix = GetResString(IDS_GRP_SUFFIX);
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const char* pszName = FoundName(data);
        if (EndsWithNoCase(pszName, grpSuffix.c_str()))
            continue;
        AddFileEntry(ppList, pszName, data.nFileSizeLow, data.ftLastWriteTime, pdwCount);
    } while (FindNextFileA(search.get(), &data));
    return 1;
}

DIRFILE* AddFileEntry(DIRFILE** ppList, const char* pszName, DWORD dwSize, FILETIME ftWrite,
                      DWORD* pdwCount) {
    if (!CheckText(pszName, __LINE__))
        pszName = "";
    size_t cch = std::strlen(pszName);
    auto* pEntry = static_cast<DIRFILE*>(AllocOrDie(offsetof(DIRFILE, szName) + cch + 1));
    pEntry->ftWrite = ftWrite;
    pEntry->dwSize = dwSize;
    std::memcpy(pEntry->szName, pszName, cch + 1);
    pEntry->pNext = *ppList;
    *ppList = pEntry;
    if (pdwCount)
        ++*pdwCount;
    return pEntry;
}

void SortFileList(DIRFILE** ppList, DWORD dwCount) {
    std::vector<DIRFILE*> entries;
    OrOutOfMemory([&] {
        entries.reserve(dwCount);
        for (DIRFILE* pEntry = *ppList; pEntry; pEntry = pEntry->pNext)
            entries.push_back(pEntry);
    });
    // A count that does not match the list is a caller's mistake; the list
    // is still sorted whole rather than cut or overrun.
    if (entries.size() != dwCount)
        InternalError("File", __LINE__);
    if (entries.empty())
        return;
    std::qsort(entries.data(), entries.size(), sizeof(DIRFILE*), [](const void* a, const void* b) {
        return CompareNoCase((*static_cast<DIRFILE* const*>(a))->szName,
                             (*static_cast<DIRFILE* const*>(b))->szName);
    });
    for (size_t i = 0; i + 1 < entries.size(); ++i)
        entries[i]->pNext = entries[i + 1];
    entries.back()->pNext = nullptr;
    *ppList = entries.front();
}

DIRFILE* FindFileEntry(DIRFILE* pList, const char* pszText) {
    if (!pList) {
        InternalError("File", __LINE__);
        return nullptr;
    }
    if (!CheckText(pszText, __LINE__))
        return nullptr;
    for (DIRFILE* pEntry = pList; pEntry; pEntry = pEntry->pNext) {
        if (CompareNoCase(pEntry->szName, pszText) == 0)
            return pEntry;
    }
    return nullptr;
}

char* BuildLowerPath(const char* pszFolder, const char* pszName, char* pszBuffer) {
    pszBuffer[0] = '\0';
    if (!CheckText(pszFolder, __LINE__) || !CheckText(pszName, __LINE__))
        return pszBuffer;
    std::string path = JoinPath(pszFolder, pszName);
    lstrcpynA(pszBuffer, path.c_str(), kLowerPathChars);
    CharLowerA(pszBuffer);
    return pszBuffer;
}

bool EndsWithNoCase(const char* pszText, const char* pszSuffix) {
    if (!pszText || !pszSuffix)
        return false;
    size_t cchText = std::strlen(pszText);
    size_t cchSuffix = std::strlen(pszSuffix);
    return cchText > cchSuffix && CompareNoCase(pszText + cchText - cchSuffix, pszSuffix) == 0;
}

void FreeFileList(DIRFILE** ppList) {
    FreeChain(ppList);
}
