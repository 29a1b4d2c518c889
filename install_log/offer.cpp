// An install log's items as undo actions, each checked against the machine
// as it is now: what is gone is done, what changed since install is held
// back (unchecked, or not rewritten) with a caution, and a folder setup made
// loses only the files setup made.
#include "install_log/offer.h"

#include "actions/confirm.h"
#include "actions/undo.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "common/paths.h"
#include "files/lists.h"
#include "registry/snapshot.h"
#include "registry/compare.h"
#include "registry/restore.h"
#include "registry/keypath.h"
#include "common/handles.h"
#include "resources/resource.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// What the undo of a folder setup made may delete.
struct RecordedFolder {
    std::string root;
    std::vector<std::string> files;
    std::vector<std::string> folders;
};

// One offered action and the item it came from; a file held back out of a
// folder item has an item of its own, made here.
struct Offered {
    DEACTION* pact;
    size_t iItem;
    size_t iFolderItem; // of a held-back file: its folder's item
};
constexpr size_t kNoFolder = static_cast<size_t>(-1);

std::vector<Offered> offered;
std::vector<std::unique_ptr<RecordedFolder>> recordedFolders;

void Caution(const std::string& text) {
    AddCaution("%s", text.c_str());
}

DEACTION* Offer(InstallLog& log, size_t iItem, PFNACTION pfnConfirm, PFNACTION pfnUndo,
                void* pExtra, const std::string& description) {
    const LogItem& item = log.items[iItem];
    DEACTION* pact = AddAction(item.wKind, item.wOrder, "%s", description.c_str(), pfnConfirm,
                               pfnUndo, item.object.c_str(), pExtra);
    SetStartsChecked(pact, true);
    offered.push_back({pact, iItem, kNoFolder});
    return pact;
}

void HoldBack(DEACTION* pact, const std::string& caution) {
    SetStartsChecked(pact, false);
    Caution(caution);
}

// Folder names end in a backslash, which a search for the folder does not take.
bool FolderExists(std::string folder) {
    while (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back();
    return PathExists(folder.c_str()) != 0;
}

bool ChangedSinceInstall(const FileStamp& recorded) {
    FileStamp now;
    return !StampFile(recorded.path, now) || !(now == recorded);
}

void OfferFile(InstallLog& log, size_t iItem) {
    const LogItem& item = log.items[iItem];
    bool fIcon = item.wKind == DEA_ICON;
    const std::string& path = fIcon ? item.extra : item.object;
    DEACTION* pact = Offer(log, iItem, fIcon ? nullptr : ConfirmFileDelete,
                           fIcon ? UndoDeleteIcon : UndoDeleteFile,
                           fIcon ? DupString(path.c_str()) : nullptr, item.description);
    if (!PathExists(path.c_str()))
        pact->fDone = 1;
    else if (item.files.empty() || ChangedSinceInstall(item.files.front()))
        HoldBack(pact, "File \"" + path +
                           "\" was changed since it was installed: it is offered unchecked");
}

void OfferGroup(InstallLog& log, size_t iItem) {
    const LogItem& item = log.items[iItem];
    DEACTION* pact = Offer(log, iItem, nullptr, UndoDeleteGroup, DupString(item.extra.c_str()),
                           item.description);
    if (!FolderExists(item.extra))
        pact->fDone = 1;
}

void OfferRestore(InstallLog& log, size_t iItem) {
    const LogItem& item = log.items[iItem];
    DEACTION* pact =
        Offer(log, iItem, ConfirmSkipRestore, UndoRestoreFile, nullptr, item.description);
    if (item.files.empty() || ChangedSinceInstall(item.files.front()))
        HoldBack(pact, "\"" + item.object +
                           "\" was changed since install: putting back its copy from before "
                           "would undo those changes too; it is offered unchecked");
}

void ListFiles(const std::string& folder, std::vector<std::string>& files) {
    WalkFolderTree(folder, [&files](const std::string& path, bool fFolder) {
        if (!fFolder)
            files.push_back(path);
    });
}

const FileStamp* FindRecorded(const LogItem& item, const std::string& path) {
    for (const FileStamp& stamp : item.files) {
        if (CompareNoCase(stamp.path.c_str(), path.c_str()) == 0)
            return &stamp;
    }
    return nullptr;
}

// A changed file inside a folder setup made becomes an item and action of
// its own, offered unchecked before the folder's action.
void HoldBackFileOf(InstallLog& log, size_t iFolderItem, const FileStamp& recorded) {
    LogItem& file = log.items.emplace_back();
    file.wKind = DEA_FILE;
    file.wOrder = log.items[iFolderItem].wOrder;
    file.object = recorded.path;
    file.description = "File \"" + recorded.path + "\"";
    file.files.push_back(recorded);
    DEACTION* pact = Offer(log, log.items.size() - 1, ConfirmFileDelete, UndoDeleteFile, nullptr,
                           file.description);
    offered.back().iFolderItem = iFolderItem;
    HoldBack(pact, "File \"" + recorded.path +
                       "\" was changed since it was installed: it is offered unchecked, and its "
                       "folder is kept for it");
}

std::string NameInFolder(const std::string& root, const std::string& path) {
    return path.substr(std::min(path.size(), root.size()));
}

void OfferFolder(InstallLog& log, size_t iItem) {
    std::string root = log.items[iItem].object;
    if (!FolderExists(root)) {
        Offer(log, iItem, nullptr, UndoDeleteRecordedFolder, nullptr, log.items[iItem].description)
            ->fDone = 1;
        return;
    }
    auto folder = std::make_unique<RecordedFolder>();
    folder->root = root;
    folder->folders = log.items[iItem].folders;
    std::vector<std::string> present, left;
    ListFiles(root, present);
    for (const std::string& path : present) {
        const FileStamp* pRecorded = FindRecorded(log.items[iItem], path);
        if (pRecorded && !ChangedSinceInstall(*pRecorded)) {
            folder->files.push_back(path);
            continue;
        }
        left.push_back(NameInFolder(root, path));
        if (pRecorded)
            HoldBackFileOf(log, iItem, FileStamp(*pRecorded));
        else
            Caution("File \"" + path +
                    "\" was not made by setup: it stays, and so does its folder");
    }
    std::string description = log.items[iItem].description;
    std::string names;
    for (const std::string& name : left)
        names += (names.empty() ? "" : ", ") + name;
    if (!left.empty())
        description += " (leaves " + names + ")";
    Offer(log, iItem, ConfirmRecordedFolderDelete, UndoDeleteRecordedFolder, folder.get(),
          description);
    recordedFolders.push_back(std::move(folder));
}

bool KeyExists(const RTREE* pNode) {
    HKEY hKey = nullptr;
    bool fExists = OpenRegistryPathNoLink(pNode->hRoot, RegistryKeyPath(pNode).c_str(), KEY_READ,
                                          &hKey) == ERROR_SUCCESS;
    RegistryKey key(hKey);
    return fExists;
}

RTREE* ReadKeyNow(const RTREE* pNode) {
    RTREE* pNow = NewRegistryNode();
    ScanRegistryKey(pNode->hRoot, RegistryKeyPath(pNode).c_str(), pNow);
    return pNow;
}

const RDATA* FindValue(const RTREE* pNode, const char* pszName) {
    for (const RDATA* pRD = pNode ? pNode->pData : nullptr; pRD; pRD = pRD->pNext) {
        if (CompareNoCase(pRD->pszName, pszName) == 0)
            return pRD;
    }
    return nullptr;
}

bool SameValue(const RDATA* a, const RDATA* b) {
    if (!a || !b)
        return a == b;
    return a->dwType == b->dwType && a->cbData == b->cbData &&
           std::equal(a->abData, a->abData + a->cbData, b->abData);
}

// The names of the values that differ between setup's key and the key now.
std::vector<std::string> ChangedValues(const RTREE* pSetup, const RTREE* pNow) {
    std::vector<std::string> names;
    for (const RTREE* pSide : {pSetup, pNow}) {
        for (const RDATA* pRD = pSide->pData; pRD; pRD = pRD->pNext) {
            if (!SameValue(FindValue(pSetup, pRD->pszName), FindValue(pNow, pRD->pszName)) &&
                std::none_of(names.begin(), names.end(), [&](const std::string& name) {
                    return CompareNoCase(name.c_str(), pRD->pszName) == 0;
                }))
                names.push_back(pRD->pszName);
        }
    }
    return names;
}

// The values of a key setup added that changed since, below it too.
void CollectChangedBelow(const RTREE* pSetup, const RTREE* pNow, const std::string& path,
                         std::vector<std::string>& changes) {
    for (const std::string& name : ChangedValues(pSetup, pNow))
        changes.push_back(path + " \"" + name + "\"");
    for (const RTREE* pChild = pSetup->pChild; pChild; pChild = pChild->pNext) {
        for (const RTREE* pLive = pNow->pChild; pLive; pLive = pLive->pNext) {
            if (CompareNoCase(pChild->pszName, pLive->pszName) == 0)
                CollectChangedBelow(pChild, pLive, path + "\\" + pChild->pszName, changes);
        }
    }
}

// A value that no longer holds setup's value keeps the value it has now:
// the key's restore writes that back instead of the one from before setup.
void KeepChangedValue(RTREE* pBefore, const RTREE* pNow, const std::string& name) {
    RDATA** ppLink = &pBefore->pData;
    while (*ppLink && CompareNoCase((*ppLink)->pszName, name.c_str()) != 0)
        ppLink = &(*ppLink)->pNext;
    if (*ppLink) {
        RDATA* pOld = *ppLink;
        *ppLink = pOld->pNext;
        pOld->pNext = nullptr;
        FreeRegistryData(pOld, nullptr, 1);
    }
    if (const RDATA* pLive = FindValue(pNow, name.c_str()))
        pBefore->pData = NewRegistryData(pLive->dwType, pLive->cbData, pLive->abData,
                                         pLive->pszName, pBefore->pData);
}

void OfferRegistry(InstallLog& log, size_t iItem) {
    LogItem& item = log.items[iItem];
    RTREE* pNode = item.dwChange == REG_KEY_ADDED ? item.pAfter : item.pBefore;
    if (!pNode) {
        InternalError("Install log", __LINE__);
        return;
    }
    pNode->dwChange = item.dwChange;
    DEACTION* pact =
        Offer(log, iItem, AcceptRegistryAction, DoRegistryAction, pNode, item.description);
    bool fExists = KeyExists(pNode);
    std::string key = std::string(aRegRoots[item.iRoot].szDisplayName) + "\\" + item.keyPath;
    if (item.dwChange == REG_KEY_DELETED) {
        if (fExists)
            HoldBack(pact,
                     "Registry key " + key + " exists again since install: it is not rewritten");
        return;
    }
    if (!fExists) {
        pact->fDone = 1;
        return;
    }
    RTREE* pNow = ReadKeyNow(pNode);
    if (item.dwChange == REG_KEY_ADDED) {
        std::vector<std::string> changes;
        CollectChangedBelow(item.pAfter, pNow, key, changes);
        for (const std::string& change : changes)
            Caution("Registry value " + change +
                    " was changed since install; it goes with the key setup added");
    } else if (item.pAfter) {
        for (const std::string& name : ChangedValues(item.pAfter, pNow)) {
            KeepChangedValue(item.pBefore, pNow, name);
            Caution("Registry value " + key + " \"" + name +
                    "\" no longer holds setup's value: it is not rewritten");
        }
    }
    FreeRegistryNode(pNow, 1);
}

} // namespace

int ConfirmRecordedFolderDelete(DEACTION* pact) {
    if (!pact->fSelected)
        return IDOK;
    return FindFileInUse(pact->szObject, pact->szObject) ? IDNO : IDYES;
}

void OfferLogItems(InstallLog& log) {
    for (const std::string& caution : log.cautions)
        Caution(caution);
    size_t cItems = log.items.size(); // held-back files are added behind
    for (size_t i = 0; i < cItems; ++i) {
        switch (log.items[i].wKind) {
        case DEA_FILE:
        case DEA_ICON:
            OfferFile(log, i);
            break;
        case DEA_GROUP:
            OfferGroup(log, i);
            break;
        case DEA_FOLDER:
            OfferFolder(log, i);
            break;
        case DEA_RESTORE:
            OfferRestore(log, i);
            break;
        default:
            OfferRegistry(log, i);
            break;
        }
    }
}

bool KeepItemsLeft(InstallLog& log) {
    bool fNeeded = false;
    for (const Offered& entry : offered) {
        log.items[entry.iItem].fDone = entry.pact->fDone == 1;
        fNeeded = fNeeded || (!entry.pact->fDone && StartsCheckedAsSaid(entry.pact) == 1);
    }
    // A held-back file stays in the folder's item while that is kept.
    for (const Offered& entry : offered) {
        if (entry.iFolderItem != kNoFolder && !log.items[entry.iFolderItem].fDone)
            log.items[entry.iItem].fDone = true;
    }
    return fNeeded;
}

void ForgetLogActions() {
    offered.clear();
    recordedFolders.clear();
}

RTREE* ReadRecordedUninstallKey(const InstallLog& log) {
    std::string uninstallPath = RegistryApiPath(szRegUninstallPath);
    for (const LogItem& item : log.items) {
        if (item.dwChange != REG_KEY_ADDED || !item.pAfter || item.iRoot != kMachineSoftwareRow ||
            CompareNoCase(item.keyPath.substr(0, item.keyPath.rfind('\\')).c_str(),
                          uninstallPath.c_str()) != 0 ||
            !KeyExists(item.pAfter))
            continue;
        RTREE* pNow = ReadKeyNow(item.pAfter);
        std::free(pNow->pszName);
        pNow->pszName = DupString(item.pAfter->pszName);
        return pNow;
    }
    return nullptr;
}

int UndoDeleteRecordedFolder(DEACTION* pact) {
    auto* pFolder = static_cast<RecordedFolder*>(pact->pExtra);
    if (!pFolder)
        return 1;
    int fAll = 1;
    for (const std::string& file : pFolder->files) {
        if (PathExists(file.c_str()) && DeleteFileForce(file.c_str()) != 0)
            fAll = 0;
    }
    // Deepest first: a folder is removed only once it is empty.
    std::vector<std::string> folders = pFolder->folders;
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& folder : folders)
        RemoveFolder(folder.c_str());
    std::string root = pFolder->root;
    if (!root.empty() && root.back() == '\\')
        root.pop_back();
    RemoveFolder(root.c_str());
    return fAll;
}
