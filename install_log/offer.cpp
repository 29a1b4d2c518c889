// An install log's items as undo actions, each checked against the machine
// as it is now: what is gone is done, what changed since install is held
// back (unchecked, or not rewritten) with a caution, and a folder setup made
// loses only the files setup made.
#include "install_log/offer.h"

#include "install_log/capture.h"
#include "install_log/recorded_key.h"

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
#include "registry/wide_names.h"
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
    const DEACTION* pact;
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

// The file holds its copy from before setup again: an uninstall that was given
// up after putting it back.
bool SameAsBackup(const LogItem& item) {
    FileStamp now, copy;
    return StampFile(item.object, now) &&
           StampFile(JoinPath(szTempDir, item.backup.c_str()), copy) && !now.sha1.empty() &&
           now.cbSize == copy.cbSize && now.sha1 == copy.sha1;
}

void OfferRestore(InstallLog& log, size_t iItem) {
    const LogItem& item = log.items[iItem];
    DEACTION* pact =
        Offer(log, iItem, ConfirmSkipRestore, UndoRestoreFile, nullptr, item.description);
    if (SameAsBackup(item))
        pact->fDone = 1;
    else if (item.files.empty() || ChangedSinceInstall(item.files.front()))
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

// A folder setup made, or a group (a Start Menu folder or a new folder on
// the Desktop), compared with the log file by file: the group's action keeps
// its path as its extra data, which the report shows.
void OfferFolder(InstallLog& log, size_t iItem) {
    const LogItem& item = log.items[iItem];
    bool fGroup = item.wKind == DEA_GROUP;
    std::string root = fGroup ? item.extra : item.object;
    auto pExtra = [&] { return fGroup ? DupString(root.c_str()) : nullptr; };
    if (!FolderExists(root)) {
        Offer(log, iItem, nullptr, UndoDeleteRecordedFolder, pExtra(), item.description)->fDone = 1;
        return;
    }
    auto folder = std::make_unique<RecordedFolder>();
    folder->root = root;
    folder->folders = item.folders;
    std::vector<std::string> present, left;
    ListFiles(root, present);
    for (const std::string& path : present) {
        const FileStamp* pRecorded = FindRecorded(log.items[iItem], path);
        if (pRecorded && !ChangedSinceInstall(*pRecorded)) {
            folder->files.push_back(path);
            continue;
        }
        left.push_back(NameInFolder(JoinPath(root.c_str(), ""), path));
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
    folder->pact = Offer(log, iItem, ConfirmRecordedFolderDelete, UndoDeleteRecordedFolder,
                         pExtra(), description);
    recordedFolders.push_back(std::move(folder));
}

const RecordedFolder* RecordedFolderOf(const DEACTION* pact) {
    for (const auto& pFolder : recordedFolders) {
        if (pFolder->pact == pact)
            return pFolder.get();
    }
    return nullptr;
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

// What the undo of a registry item carries out; its action's extra data
// stays the key's node, which the dialog describes.
struct RecordedKey {
    const DEACTION* pact;
    HKEY hRoot;
    std::string path;
    KeyUndo undo;
};

std::vector<RecordedKey> recordedKeys;

void CautionKept(const std::string& key, DWORD dwChange, const KeyUndo& undo) {
    for (const KeptPart& part : undo.kept) {
        std::string path = part.subkey.empty() ? key : key + "\\" + ShownRegistryText(part.subkey);
        std::string value = ShownRegistryText(part.value);
        if (part.fKey)
            Caution("Registry key " + path +
                    " was made since install: it stays, and so does the key above it");
        else if (dwChange == REG_KEY_ADDED)
            Caution("Registry value " + path + " \"" + value +
                    "\" was made or changed since install: it stays, and so does its key");
        else
            Caution("Registry value " + path + " \"" + value +
                    "\" no longer holds setup's value: it is not rewritten");
    }
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
    std::string key =
        ShownRegistryText(std::string(aRegRoots[item.iRoot].szDisplayName) + "\\" + item.keyPath);
    if (item.fInexactName) {
        Caution("Registry key " + key +
                " is named in an older install log in ANSI text, which may not hold its exact "
                "name: it is left as it is");
        pact->fDone = 1;
        return;
    }
    bool fExists = KeyExists(pNode);
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
    pact->pfnUndo = UndoRecordedKey; // carries out only what is planned below
    if (!item.pAfter) {
        HoldBack(pact,
                 "Registry key " + key + " has no record of setup's values: it is not rewritten");
        return;
    }
    RTREE* pNow = ReadKeyNow(pNode);
    KeyUndo undo = item.dwChange == REG_KEY_ADDED
                       ? PlanAddedKeyUndo(item.pAfter, pNow)
                       : PlanChangedValuesUndo(item.pBefore, item.pAfter, pNow);
    CautionKept(key, item.dwChange, undo);
    recordedKeys.push_back({pact, pNode->hRoot, RegistryKeyPath(pNode), std::move(undo)});
    FreeRegistryNode(pNow, 1);
}

} // namespace

int UndoRecordedKey(DEACTION* pact) {
    for (const RecordedKey& key : recordedKeys) {
        if (key.pact == pact)
            return CarryOutKeyUndo(key.hRoot, key.path, key.undo) ? 1 : 0;
    }
    return 0; // nothing was planned: the log keeps the item
}

int ConfirmRecordedFolderDelete(DEACTION* pact) {
    if (!pact->fSelected)
        return IDOK;
    const RecordedFolder* pFolder = RecordedFolderOf(pact);
    if (!pFolder)
        return IDYES;
    return FindFileInUse(pFolder->root.c_str(), pFolder->root.c_str()) ? IDNO : IDYES;
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
    recordedKeys.clear();
}

RTREE* ReadRecordedUninstallKey(const InstallLog& log) {
    for (const LogItem& item : log.items) {
        if (!IsAddedUninstallEntry(item) || !KeyExists(item.pAfter))
            continue;
        RTREE* pNow = ReadKeyNow(item.pAfter);
        std::free(pNow->pszName);
        pNow->pszName = DupString(item.pAfter->pszName);
        return pNow;
    }
    return nullptr;
}

int UndoDeleteRecordedFolder(DEACTION* pact) {
    const RecordedFolder* pFolder = RecordedFolderOf(pact);
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
