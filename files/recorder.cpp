// The change recorder: keeps the monitor's notifications as an ordered list
// of events while setup runs, and afterwards folds renames into creations
// and removals and turns the events into the lists of new folders and files.
//
// Looking up "the first active event of this kind for this path" goes
// through a hash index on the case-folded path, built after the monitor has
// stopped, and the folder and existence tests search folder listings, so
// resolving a large install stays linear.
#include "files/recorder.h"

#include "common/pathsearch.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "common/paths.h"
#include "files/lists.h"
#include "monitor/protocol.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr char kMissedChangesCaution[] =
    "Some changes on drive %s may not be listed: the monitor could not keep up with them";
constexpr char kRenamedFileCaution[] = "File \"%s\" was renamed by setup from \"%s\" and is kept";
constexpr char kRenamedFolderCaution[] =
    "Folder \"%s\" was renamed by setup from \"%s\" and is kept";

// Drives (bit i: drive 'A' + i) where the recorder itself lost an event
// for lack of memory; written on the monitor's thread.
std::atomic<DWORD> dwLostDrives;

FILEEVENT* pEventHead;
FILEEVENT* pEventTail;
// Grows for the library's whole life, never reset.
DWORD dwEventCounter;

// The events of one (path, code) pair in list order; events before
// iFirstActive are known to be inactive (an event never becomes active
// again).
struct EventBucket {
    std::vector<FILEEVENT*> events;
    size_t iFirstActive = 0;
};

struct EventIndex {
    std::unordered_map<std::string, EventBucket> buckets;
    FILEEVENT* pLastIndexed = nullptr;
};

EventIndex* pEventIndex;

// An item that was there before setup and that setup renamed: it is the
// user's, however new its name.
struct RenamedItem {
    std::string newName;
    std::string origin; // its name before setup
};

// The renamed items by their folded new names.
std::unordered_map<std::string, RenamedItem>& RenamedItems() {
    static std::unordered_map<std::string, RenamedItem> items;
    return items;
}

std::string FoldedPath(const std::string& path) {
    return FoldCase(path.c_str(), path.size());
}

std::string EventKey(const char* pszPath, DWORD dwOp) {
    std::string key = FoldCase(pszPath, std::strlen(pszPath));
    key += '\n';
    key += std::to_string(dwOp);
    return key;
}

// Brings the index up to the list's tail.
EventIndex& SyncIndex() {
    OrOutOfMemory([] {
        if (!pEventIndex)
            pEventIndex = new EventIndex;
        EventIndex& index = *pEventIndex;
        FILEEVENT* pEvent = index.pLastIndexed ? index.pLastIndexed->pNext : pEventHead;
        for (; pEvent; pEvent = pEvent->pNext) {
            index.buckets[EventKey(pEvent->pszFile, pEvent->dwOp)].events.push_back(pEvent);
            index.pLastIndexed = pEvent;
        }
    });
    return *pEventIndex;
}

void DropIndex() {
    delete pEventIndex;
    pEventIndex = nullptr;
}

char* CopyText(const char* pszText) {
    size_t cch = std::strlen(pszText);
    auto* pszCopy = static_cast<char*>(std::malloc(cch + 1));
    if (pszCopy)
        std::memcpy(pszCopy, pszText, cch + 1);
    return pszCopy;
}

// Appends one event at the given place in the order; false when memory ran
// out (nothing is appended then).
bool TryAppendEventAt(DWORD dwSeq, const char* pszPath, const char* pszNewPath, DWORD dwOp) {
    auto* pEvent = static_cast<FILEEVENT*>(pfnAllocFileEvent(1, sizeof(FILEEVENT)));
    char* pszFile = pEvent ? CopyText(pszPath) : nullptr;
    bool fHasNew = pszNewPath && *pszNewPath;
    char* pszNewFile = pszFile && fHasNew ? CopyText(pszNewPath) : nullptr;
    if (!pEvent || !pszFile || (fHasNew && !pszNewFile)) {
        std::free(pszFile);
        std::free(pEvent);
        return false;
    }
    pEvent->dwSeq = dwSeq;
    pEvent->pszFile = pszFile;
    pEvent->pszNewFile = pszNewFile;
    pEvent->dwOp = dwOp;
    pEvent->bActive = 1;
    if (pEventTail)
        pEventTail->pNext = pEvent;
    else
        pEventHead = pEvent;
    pEventTail = pEvent;
    return true;
}

bool TryAppendEvent(const char* pszPath, const char* pszNewPath, DWORD dwOp) {
    if (!TryAppendEventAt(dwEventCounter, pszPath, pszNewPath, dwOp))
        return false;
    ++dwEventCounter;
    return true;
}

// An event that folding a rename adds takes the rename's place in the order:
// a later rename of the same names must still see it as earlier.
void AppendFoldedEvent(const FILEEVENT* pRename, const std::string& path, DWORD dwOp) {
    if (!TryAppendEventAt(pRename->dwSeq, path.c_str(), nullptr, dwOp))
        FatalOutOfMemory();
}

// A path field of the shared buffer counts only when it ends within its
// 522 characters; a damaged record is never read past its field.
const char* FieldText(const char* pszField) {
    return std::memchr(pszField, '\0', kMonitorPathChars) ? pszField : nullptr;
}

std::string WithBackslash(const char* pszPath) {
    return JoinPath(pszPath, "");
}

// The folder test: a search inside the folder finds an entry. Below a drive
// root that is the case exactly when the folder's own entry is a directory.
bool PassesFolderTest(const char* pszPath) {
    std::string path(pszPath);
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    FoundEntry entry;
    bool fBelowDriveRoot = path.size() > 3 && path[1] == ':' && path[2] == '\\';
    if (fBelowDriveRoot)
        return SearchPathEntry(path.c_str(), &entry) &&
               (entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
    std::string pattern = WithBackslash(pszPath) + "*.*";
    return SearchPathEntry(pattern.c_str(), &entry);
}

// The existence test: a search for the path finds an entry.
bool PassesExistenceTest(const char* pszPath) {
    FoundEntry entry;
    return SearchPathEntry(pszPath, &entry);
}

void DropRepeats() {
    EventIndex& index = SyncIndex();
    for (auto& [key, bucket] : index.buckets) {
        bool fKept = false;
        for (FILEEVENT* pEvent : bucket.events) {
            if (!pEvent->bActive)
                continue;
            if (fKept)
                pEvent->bActive = 0;
            fKept = true;
        }
    }
}

// The name before setup of an item renamed from oldName: its own when setup
// did not create it before the rename, else the one it was renamed from
// earlier, if any.
std::string OriginOf(const std::string& oldName, bool fCreatedBefore) {
    std::string origin;
    OrOutOfMemory([&] {
        auto it = RenamedItems().find(FoldedPath(oldName));
        if (it != RenamedItems().end())
            origin = it->second.origin;
        else if (!fCreatedBefore)
            origin = oldName;
    });
    return origin;
}

// An item back under its own name is no longer a renamed one.
void NoteRenamedItem(const std::string& newName, const std::string& origin) {
    OrOutOfMemory([&] {
        std::string key = FoldedPath(newName);
        if (!origin.empty() && key != FoldedPath(origin))
            RenamedItems()[key] = RenamedItem{newName, origin};
        else
            RenamedItems().erase(key);
    });
}

bool IsRenamedItem(const char* pszPath) {
    bool fRenamed = false;
    OrOutOfMemory([&] { fRenamed = RenamedItems().count(FoldedPath(pszPath)) != 0; });
    return fRenamed;
}

// Renamed items still there keep their new names and get a caution; the
// others are forgotten.
void CautionRenamedItems() {
    auto& items = RenamedItems();
    for (auto it = items.begin(); it != items.end();) {
        const auto& [newName, origin] = it->second;
        bool fFolder = newName.back() == '\\';
        bool fPresent =
            fFolder ? PassesFolderTest(newName.c_str()) : PassesExistenceTest(newName.c_str());
        if (!fPresent) {
            it = items.erase(it);
            continue;
        }
        const char* pszFormat = fFolder ? kRenamedFolderCaution : kRenamedFileCaution;
        OrOutOfMemory([&] {
            AddCaution("%s", FormatText(pszFormat, newName.c_str(), origin.c_str()).c_str());
        });
        ++it;
    }
}

void FoldRename(FILEEVENT* pRename) {
    pRename->bActive = 0;
    bool fFolder = pRename->pszNewFile && PassesFolderTest(pRename->pszNewFile);
    DWORD dwCreated = fFolder ? kOpFolderCreated : kOpFileCreated;
    DWORD dwRemoved = fFolder ? kOpFolderRemoved : kOpFileDeleted;
    std::string oldName = fFolder ? WithBackslash(pRename->pszFile) : pRename->pszFile;

    FILEEVENT* pCreation = FindActiveEvent(oldName.c_str(), dwCreated);
    bool fCreatedBefore = pCreation && pCreation->dwSeq < pRename->dwSeq;
    std::string origin = OriginOf(oldName, fCreatedBefore);
    if (!pCreation)
        AppendFoldedEvent(pRename, oldName, dwRemoved);
    else if (fCreatedBefore)
        AppendFoldedEvent(pRename, oldName, dwCreated);
    else
        pCreation->bActive = 0;

    // A damaged rename without a new name only tells about its old name.
    if (!pRename->pszNewFile)
        return;
    std::string newName = fFolder ? WithBackslash(pRename->pszNewFile) : pRename->pszNewFile;
    NoteRenamedItem(newName, origin);
    if (FindActiveEvent(newName.c_str(), dwCreated))
        return;
    FILEEVENT* pRemoval = FindActiveEvent(newName.c_str(), dwRemoved);
    if (!pRemoval) {
        AppendFoldedEvent(pRename, newName, dwCreated);
        return;
    }
    if (pRename->dwSeq >= pRemoval->dwSeq)
        return;
    bool fPresent =
        fFolder ? PassesFolderTest(newName.c_str()) : PassesExistenceTest(newName.c_str());
    if (fPresent)
        AppendFoldedEvent(pRename, newName, dwCreated);
}

void FoldRenames() {
    FILEEVENT* pLast = pEventTail;
    for (FILEEVENT* pEvent = pEventHead; pEvent; pEvent = pEvent->pNext) {
        if (pEvent->bActive && pEvent->dwOp == kOpRenamed)
            FoldRename(pEvent);
        if (pEvent == pLast)
            break; // events appended here are never renames
    }
}

// Files directly in the Windows or system folder are judged by the
// directory lists of those folders instead.
bool InSystemFolder(const char* pszPath) {
    const char* pszSlash = std::strrchr(pszPath, '\\');
    if (!pszSlash)
        return false;
    size_t cchFolder = static_cast<size_t>(pszSlash - pszPath) + 1;
    auto sameFolder = [&](const char* pszFolder) {
        return std::strlen(pszFolder) == cchFolder &&
               CompareNoCaseN(pszPath, pszFolder, cchFolder) == 0;
    };
    return sameFolder(WinDir) || sameFolder(SysDir);
}

void BuildNameLists() {
    for (FILEEVENT* pEvent = pEventHead; pEvent; pEvent = pEvent->pNext) {
        if (!pEvent->bActive)
            continue;
        const char* pszPath = pEvent->pszFile;
        switch (pEvent->dwOp) {
        case kOpFolderCreated:
            if (!IsRenamedItem(pszPath))
                AddName(3, &NewFolders, pszPath);
            break;
        case kOpFolderRemoved:
            if (!PassesFolderTest(pszPath))
                RemoveName(&NewFolders, pszPath);
            break;
        case kOpFileDeleted:
            if (!PassesExistenceTest(pszPath))
                RemoveName(&NewFiles, pszPath);
            break;
        case kOpFileCreated:
            if (!InSystemFolder(pszPath) && !IsRenamedItem(pszPath))
                AddName(4, &NewFiles, pszPath);
            break;
        default:
            break;
        }
    }
}

// An event the recorder could not keep counts as lost on its drive, as the
// driver's lost records do.
void NoteLostEvent(const char* pszPath) {
    char chDrive =
        pszPath[0] >= 'a' && pszPath[0] <= 'z' ? static_cast<char>(pszPath[0] - 32) : pszPath[0];
    if (chDrive >= 'A' && chDrive <= 'Z' && pszPath[1] == ':')
        dwLostDrives |= 1u << (chDrive - 'A');
}

bool AppendRecordedEvent(const char* pszPath, const char* pszNewPath, DWORD dwOp) {
    try {
        if (dwOp == kOpFolderCreated || dwOp == kOpFolderRemoved)
            return TryAppendEvent(WithBackslash(pszPath).c_str(), nullptr, dwOp);
        return TryAppendEvent(pszPath, pszNewPath, dwOp);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

PFNALLOCFILEEVENT pfnAllocFileEvent = std::calloc;

void RecordFileChange(WORD wSelector, const MONITOR_RECORD* pRecord) {
    if (wSelector != 0)
        return;
    if (!pRecord) {
        InternalError("Filecdr", __LINE__);
        return;
    }
    const char* pszPath = FieldText(pRecord->szPath);
    if (!pszPath || !*pszPath || *pszPath == '\\')
        return;
    // Out of memory on the monitor thread loses the event: no box can be
    // shown and no guard of the user-interface thread covers this thread, so
    // its drive gets the caution when recording stops.
    const char* pszNewPath = nullptr;
    switch (pRecord->dwOperation) {
    case kOpRenamed:
        pszNewPath = FieldText(pRecord->szPath2);
        if (!pszNewPath)
            return;
        break;
    case kOpFolderCreated:
    case kOpFolderRemoved:
    case kOpFileDeleted:
    case kOpFileCreated:
        break;
    default:
        return;
    }
    if (!AppendRecordedEvent(pszPath, pszNewPath, pRecord->dwOperation))
        NoteLostEvent(pszPath);
}

FILEEVENT* FindActiveEvent(const char* pszPath, DWORD dwOp) {
    if (!pszPath || !*pszPath) {
        InternalError("Filecdr", __LINE__);
        return nullptr;
    }
    EventIndex& index = SyncIndex();
    FILEEVENT* pFound = nullptr;
    OrOutOfMemory([&] {
        auto it = index.buckets.find(EventKey(pszPath, dwOp));
        if (it == index.buckets.end())
            return;
        EventBucket& bucket = it->second;
        while (bucket.iFirstActive < bucket.events.size() &&
               !bucket.events[bucket.iFirstActive]->bActive)
            ++bucket.iFirstActive;
        if (bucket.iFirstActive < bucket.events.size())
            pFound = bucket.events[bucket.iFirstActive];
    });
    return pFound;
}

FILEEVENT* FirstRecordedEvent() {
    return pEventHead;
}

void ResolveRecordedChanges() {
    SearchScope searches;
    DropRepeats();
    FoldRenames();
    BuildNameLists();
    CautionRenamedItems();
    DropIndex();
}

bool RenamedBySetup(const char* pszPath) {
    return pszPath && IsRenamedItem(pszPath);
}

void FreeRecordedChanges() {
    DropIndex();
    FILEEVENT* pEvent = pEventHead;
    while (pEvent) {
        FILEEVENT* pNext = pEvent->pNext;
        std::free(pEvent->pszFile);
        std::free(pEvent->pszNewFile);
        std::free(pEvent);
        pEvent = pNext;
    }
    pEventHead = pEventTail = nullptr;
    RenamedItems().clear();
}

void CautionMissedDrives(DWORD dwMissed) {
    dwMissed |= dwLostDrives.exchange(0);
    char szDrive[] = "A:";
    for (int i = 0; i < 26; ++i) {
        szDrive[0] = static_cast<char>('A' + i);
        if (dwMissed & (1u << i))
            AddCaution(kMissedChangesCaution, szDrive);
    }
}
