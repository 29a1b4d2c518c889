// The file comparison after setup: new folders and files become deletion
// actions, the Windows and system folders are merged list against list, and
// backed-up files whose time changed become restore actions unless an .ini
// file still holds the same bytes. Changes that cannot be undone become
// caution texts.
#include "files/compare.h"

#include "actions/confirm.h"
#include "actions/undo.h"
#include "common/pathsearch.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "common/paths.h"
#include "files/lists.h"
#include "files/recorder.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/internal_error.h"

#include <cstring>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

constexpr DWORD kLongPathChars = 521;

// The name a search for the path reports; false when nothing is found.
bool SearchName(const char* pszPath, std::string* pName) {
    FoundEntry entry;
    if (!SearchPathEntry(pszPath, &entry))
        return false;
    *pName = std::move(entry.name);
    return !pName->empty();
}

// Length of the root prefix that is copied as written, or -1 for a network
// path without a share folder.
int RootPrefixLength(const char* pszPath) {
    if (pszPath[0] && pszPath[1] == ':')
        return pszPath[2] == '\\' ? 3 : 2;
    if (pszPath[0] == '\\' && pszPath[1] == '\\') {
        const char* pszServerEnd = std::strchr(pszPath + 2, '\\');
        const char* pszShareEnd = pszServerEnd ? std::strchr(pszServerEnd + 1, '\\') : nullptr;
        return pszShareEnd ? static_cast<int>(pszShareEnd - pszPath) + 1 : -1;
    }
    return 0;
}

void UpperDriveLetter(std::string& path) {
    if (path.size() >= 2 && path[1] == ':')
        CharUpperBuffA(&path[0], 1);
}

std::string FoldedName(const std::string& name) {
    return FoldCase(name.c_str(), name.size());
}

// The entries of a name list under their long names. A short and a long
// spelling of one path are one item: only one entry keeps it, so unticking
// the item leaves the path alone.
class LongNames {
  public:
    explicit LongNames(NAMEITEM** ppList) : ppList_(ppList) {
        for (NAMEITEM* pItem = *ppList; pItem; pItem = pItem->pNext) {
            if (pItem->bActive)
                listed_.insert(FoldedName(pItem->szName));
        }
    }

    // Gives the entry its long name (empty: none found), or drops it when
    // another entry has or took that name; false when it was dropped.
    bool Take(NAMEITEM* pItem, std::string longPath) {
        if (longPath.empty())
            longPath = pItem->szName;
        else
            UpperDriveLetter(longPath);
        std::string key = FoldedName(longPath);
        bool fListedElsewhere = key != FoldedName(pItem->szName) && listed_.count(key);
        if (fListedElsewhere || !taken_.insert(key).second) {
            pItem->bActive = 0;
            return false;
        }
        RenameNameItem(ppList_, pItem, longPath.c_str());
        return true;
    }

  private:
    NAMEITEM** ppList_;
    std::unordered_set<std::string> listed_; // the names as they were listed
    std::unordered_set<std::string> taken_;  // the long names given so far
};

// Folders that setup created, under their long names.
void AddNewFolderActions() {
    LongNames names(&NewFolders);
    for (NAMEITEM* pItem = NewFolders; pItem; pItem = pItem->pNext) {
        if (!pItem->bActive)
            continue;
        std::string dotted = std::string(pItem->szName) + ".";
        char szLong[kLongPathChars];
        std::string longPath;
        if (GetLongPath(dotted.c_str(), szLong, sizeof szLong)) {
            longPath = szLong;
            longPath.erase(longPath.rfind('\\') + 1);
        }
        if (names.Take(pItem, longPath))
            AddFolderAction(pItem->szName);
    }
}

// A backed-up file is restored, never deleted.
void DropBackedUpFiles() {
    for (DIRFILE* pEntry = BackupList; pEntry; pEntry = pEntry->pNext)
        RemoveName(&NewFiles, pEntry->szName);
}

// New files under their long names, with the drive letter in capitals.
void UseLongFileNames() {
    LongNames names(&NewFiles);
    for (NAMEITEM* pItem = NewFiles; pItem; pItem = pItem->pNext) {
        if (!pItem->bActive)
            continue;
        char szLong[kLongPathChars];
        bool fLong = GetLongPath(pItem->szName, szLong, sizeof szLong) != 0;
        names.Take(pItem, fLong ? szLong : "");
    }
}

// A file inside a new folder goes with its folder. Every folder
// that ends in a backslash is looked up by each of the file's own folder
// prefixes; any other folder name is matched as a plain prefix.
void DropFilesInNewFolders() {
    std::unordered_set<std::string> folders;
    std::vector<std::string> otherFolders;
    for (NAMEITEM* pFolder = NewFolders; pFolder; pFolder = pFolder->pNext) {
        if (!pFolder->bActive)
            continue;
        size_t cch = std::strlen(pFolder->szName);
        if (cch && pFolder->szName[cch - 1] == '\\')
            folders.insert(FoldCase(pFolder->szName, cch));
        else
            otherFolders.push_back(pFolder->szName);
    }
    std::vector<NAMEITEM*> inside;
    for (NAMEITEM* pFile = NewFiles; pFile; pFile = pFile->pNext) {
        std::string key = FoldCase(pFile->szName, std::strlen(pFile->szName));
        bool fInside = false;
        for (size_t i = key.find('\\'); !fInside && i != std::string::npos;
             i = key.find('\\', i + 1))
            fInside = folders.count(key.substr(0, i + 1)) != 0;
        for (const std::string& folder : otherFolders) {
            if (!fInside)
                fInside = CompareNoCaseN(pFile->szName, folder.c_str(), folder.size()) == 0;
        }
        if (fInside)
            inside.push_back(pFile);
    }
    for (NAMEITEM* pFile : inside)
        RemoveName(&NewFiles, pFile->szName);
}

// Nothing in the recycle folder is offered.
void DropRecycledFiles(const std::string& recycled) {
    for (NAMEITEM* pFile = NewFiles; pFile; pFile = pFile->pNext) {
        if (!pFile->bActive || std::strlen(pFile->szName) < 3)
            continue;
        if (CompareNoCaseN(pFile->szName + 3, recycled.c_str(), recycled.size()) != 0)
            continue;
        RemoveName(&NewFiles, pFile->szName);
        pFile->bActive = 0; // also when an equal name earlier took the removal
    }
}

// A deletion for every new file left, except the host's INI file and the
// files that disk tools keep for themselves.
void AddNewFileActions() {
    const UINT kNeverOffered[] = {IDS_TARNEL_INI, IDS_QAG_SUFFIX, IDS_QAB_SUFFIX, IDS_TREEINFO_NCD,
                                  IDS_TREEINFO_DT};
    std::vector<std::string> neverOffered;
    for (UINT uId : kNeverOffered)
        neverOffered.emplace_back(GetResString(uId));
    for (NAMEITEM* pFile = NewFiles; pFile; pFile = pFile->pNext) {
        if (!pFile->bActive || !pFile->szName[0])
            continue;
        bool fOffered = true;
        for (const std::string& suffix : neverOffered)
            fOffered = fOffered && !EndsWithNoCase(pFile->szName, suffix.c_str());
        if (fOffered)
            AddFileAction(6, IDS_FILE_ACTION, pFile->szName);
    }
}

bool NeverReportedAltered(const char* pszName) {
    const UINT kQuiet[] = {IDS_USER_DAT, IDS_SYSTEM_DAT, IDS_PROGMAN_INI, IDS_WIN386_SWP};
    for (UINT uId : kQuiet) {
        if (CompareNoCase(pszName, GetResString(uId)) == 0)
            return true;
    }
    return false;
}

bool IsBackedUp(const char* pszPath) {
    return BackupList && FindFileEntry(BackupList, pszPath);
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// A backed-up file with a new time is restored, unless it is an
// .ini file whose bytes did not change.
void AddRestoreActions() {
    std::string iniSuffix = GetResString(IDS_INI_SUFFIX);
    for (DIRFILE* pEntry = BackupList; pEntry; pEntry = pEntry->pNext) {
        WIN32_FIND_DATAA data;
        if (!FindPathData(pEntry->szName, &data))
            continue;
        if (SameTime(data.ftLastWriteTime, pEntry->ftWrite))
            continue;
        if (data.nFileSizeLow == pEntry->dwSize &&
            EndsWithNoCase(pEntry->szName, iniSuffix.c_str()) &&
            SameAsBackup(pEntry->szName, FoundName(data)))
            continue;
        AddAction(DEA_RESTORE, 3, GetResString(IDS_RESTORE_ACTION), pEntry->szName,
                  ConfirmSkipRestore, UndoRestoreFile, pEntry->szName, nullptr);
    }
}

template <class Stage> void RunStage(int iNumber, int iLine, Stage&& stage) {
    if (!Guarded([&] { OrOutOfMemory(stage); }))
        ReportInternalException("File", iNumber, iLine);
}

} // namespace

DEACTION* AddFolderAction(const char* pszPath) {
    return AddAction(DEA_FOLDER, 4, GetResString(IDS_FOLDER_ACTION), pszPath, ConfirmFolderDelete,
                     UndoDeleteFolder, pszPath, nullptr);
}

DEACTION* AddFileAction(WORD wOrder, UINT uFormat, const char* pszPath) {
    return AddAction(DEA_FILE, wOrder, GetResString(uFormat), pszPath, ConfirmFileDelete,
                     UndoDeleteFile, pszPath, nullptr);
}

int CompareFolderLists(DIRFILE* pBefore, DIRFILE* pAfter, const char* pszFolder) {
    char szPath[kLowerPathChars];
    while (pBefore || pAfter) {
        int iOrder = !pBefore ? 1 : !pAfter ? -1 : CompareNoCase(pBefore->szName, pAfter->szName);
        if (iOrder < 0) {
            BuildLowerPath(pszFolder, pBefore->szName, szPath);
            if (!IsBackedUp(szPath))
                AddCaution(GetResString(IDS_FILE_DELETED), szPath);
            pBefore = pBefore->pNext;
        } else if (iOrder == 0) {
            BuildLowerPath(pszFolder, pAfter->szName, szPath);
            bool fChanged =
                pBefore->dwSize != pAfter->dwSize || !SameTime(pBefore->ftWrite, pAfter->ftWrite);
            if (!IsBackedUp(szPath) && fChanged && !NeverReportedAltered(pAfter->szName))
                AddCaution(GetResString(IDS_FILE_ALTERED), szPath);
            pBefore = pBefore->pNext;
            pAfter = pAfter->pNext;
        } else {
            BuildLowerPath(pszFolder, pAfter->szName, szPath);
            if (!RenamedBySetup(szPath))
                AddFileAction(5, IDS_SYSTEM_FILE_ACTION, szPath);
            pAfter = pAfter->pNext;
        }
    }
    return 1;
}

int SameAsBackup(const char* pszPath, const char* pszBackupName) {
    std::string backup = JoinPath(szTempDir, pszBackupName);
    const char* apszFiles[2] = {pszPath, backup.c_str()};
    FileHandle files[2], mappings[2];
    const BYTE* apbView[2] = {nullptr, nullptr};
    for (int i = 0; i < 2; ++i) {
        files[i].Reset(CreateFileA(apszFiles[i], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!files[i])
            break;
        mappings[i].Reset(
            CreateFileMappingA(files[i].get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (!mappings[i])
            break;
        apbView[i] =
            static_cast<const BYTE*>(MapViewOfFile(mappings[i].get(), FILE_MAP_READ, 0, 0, 0));
        if (!apbView[i])
            break;
    }
    int result = 0;
    if (apbView[0] && apbView[1]) {
        DWORD dwSize = GetFileSize(files[0].get(), nullptr);
        DWORD dwBackupSize = GetFileSize(files[1].get(), nullptr);
        // The caller compares only files of equal size; a backup that is
        // shorter after all is a difference, never a read past its view.
        if (dwSize != INVALID_FILE_SIZE && dwSize == dwBackupSize)
            result = std::memcmp(apbView[0], apbView[1], dwSize) == 0 ? 1 : 0;
    }
    for (const BYTE* pbView : apbView) {
        if (pbView)
            UnmapViewOfFile(pbView);
    }
    return result;
}

DWORD GetLongPath(const char* pszPath, char* pszOut, DWORD cchOut) {
    if (!pszPath || !*pszPath || !pszOut || cchOut == 0) {
        InternalError("File", __LINE__);
        return 0;
    }
    std::string lastName;
    if (!SearchName(pszPath, &lastName))
        return 0;
    pszOut[0] = '\0';
    int cchPrefix = RootPrefixLength(pszPath);
    if (cchPrefix < 0 || static_cast<DWORD>(cchPrefix) >= cchOut)
        return 0;
    std::string out(pszPath, static_cast<size_t>(cchPrefix));
    std::string path(pszPath);
    size_t iStart = static_cast<size_t>(cchPrefix);
    for (size_t i = path.find('\\', iStart); i != std::string::npos; i = path.find('\\', i + 1)) {
        std::string partial = path.substr(0, i);
        std::string name;
        if (!SearchName(partial.c_str(), &name))
            return 0;
        if (out.size() + partial.size() > cchOut || out.size() + name.size() + 1 >= cchOut)
            return 0;
        out += name;
        out += '\\';
        iStart = i + 1;
    }
    std::string last = path.substr(iStart);
    bool fWildcard = last.find_first_of("*?") != std::string::npos;
    const std::string& tail = fWildcard ? last : lastName;
    if (out.size() + tail.size() >= cchOut)
        return 0;
    out += tail;
    std::memcpy(pszOut, out.c_str(), out.size() + 1);
    return static_cast<DWORD>(out.size());
}

void CompareFiles() {
    SearchScope searches;
    if (!Guarded([] {
            std::string recycled = GetResString(IDS_RECYCLED);
            RunStage(8, __LINE__, AddNewFolderActions);
            RunStage(9, __LINE__, DropBackedUpFiles);
            RunStage(7, __LINE__, UseLongFileNames);
            RunStage(15, __LINE__, DropFilesInNewFolders);
            RunStage(10, __LINE__, [&] { DropRecycledFiles(recycled); });
            RunStage(11, __LINE__, AddNewFileActions);
            RunStage(12, __LINE__, [] {
                CompareFolderLists(WinBefore, WinAfter, WinDir);
                CompareFolderLists(SysBefore, SysAfter, SysDir);
            });
            RunStage(13, __LINE__, AddRestoreActions);
        }))
        ReportInternalException("File", 14, __LINE__);
}
