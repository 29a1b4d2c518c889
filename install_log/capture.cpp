// Capture from a session: the session's action list and cautions taken as
// an install log, with the restored files' copies, and the name and folder
// the log goes by.
#include "install_log/capture.h"

#include "actions/deaction.h"
#include "common/strings.h"
#include "common/paths.h"
#include "files/lists.h"
#include "registry/snapshot.h"
#include "registry/restore.h"
#include "registry/keypath.h"
#include "registry/wide_names.h"

#include <ctime>

std::string LogFolderName(const std::string& name) {
    std::string folder;
    // Letters of the code page's upper half are names too; control
    // characters and what a path gives meaning to are not.
    for (char ch : name)
        folder += std::string("\\/:*?\"<>|").find(ch) == std::string::npos &&
                          static_cast<unsigned char>(ch) >= ' '
                      ? ch
                      : '_';
    while (!folder.empty() && (folder.back() == '.' || folder.back() == ' '))
        folder.pop_back();
    return folder.empty() ? "program" : folder;
}

bool IsAddedUninstallEntry(const LogItem& item) {
    bool fUninstallRoot = item.iRoot == kMachineSoftwareRow || item.iRoot == kUserSoftwareRow;
    return item.dwChange == REG_KEY_ADDED && item.pAfter && fUninstallRoot &&
           CompareNoCase(item.keyPath.substr(0, item.keyPath.rfind('\\')).c_str(),
                         RegistryApiPath(szRegUninstallPath)) == 0;
}

std::string ProgramNameOf(const InstallLog& log, const std::string& setup) {
    for (const LogItem& item : log.items) {
        if (!IsAddedUninstallEntry(item))
            continue;
        for (const RDATA* pRD = item.pAfter->pData; pRD; pRD = pRD->pNext) {
            if (CompareNoCase(pRD->pszName, "DisplayName") == 0 && pRD->dwType == REG_SZ &&
                pRD->cbData > 1)
                return ShownRegistryText(
                    std::string(reinterpret_cast<const char*>(pRD->abData),
                                strnlen(reinterpret_cast<const char*>(pRD->abData), pRD->cbData)));
        }
    }
    std::string name = setup.substr(setup.find_last_of("\\/") + 1);
    if (name.size() > 4 && CompareNoCase(name.substr(name.size() - 4).c_str(), ".exe") == 0)
        name.resize(name.size() - 4);
    return name;
}

namespace {

void ListFolder(const std::string& folder, LogItem& item) {
    WalkFolderTree(folder, [&item](const std::string& path, bool fFolder) {
        if (fFolder)
            item.folders.push_back(path);
        else if (FileStamp stamp; StampFile(path, stamp))
            item.files.push_back(std::move(stamp));
    });
}

int RootRow(HKEY hRoot) {
    for (int i = 0; i < cRegRoots; ++i) {
        if (aRegRoots[i].hRoot == hRoot)
            return i;
    }
    return -1;
}

std::string PathBelowRoot(const RTREE* pNode) {
    std::string path;
    for (; pNode && pNode->pParent; pNode = pNode->pParent)
        path = path.empty() ? std::string(pNode->pszName) : pNode->pszName + ("\\" + path);
    return path;
}

// The key as setup left it: its values, read now.
RTREE* ReadKeyValues(RTREE* pNode) {
    RTREE* pNow = NewRegistryNode();
    ScanRegistryKey(pNode->hRoot, RegistryKeyPath(pNode).c_str(), pNow);
    FreeRegistryNode(pNow->pChild, 1);
    pNow->pChild = nullptr;
    std::free(pNow->pszName);
    pNow->pszName = DupString(pNode->pszName);
    return pNow;
}

bool AddRegistryItem(const DEACTION* pact, LogItem& item) {
    auto* pNode = static_cast<RTREE*>(pact->pExtra);
    if (!pNode || RootRow(pNode->hRoot) < 0)
        return false;
    item.dwChange = pNode->dwChange;
    item.iRoot = RootRow(pNode->hRoot);
    item.keyPath = PathBelowRoot(pNode);
    if (item.dwChange == REG_KEY_ADDED) {
        item.pAfter = CopyRegistryTree(pNode, nullptr);
    } else {
        item.pBefore = CopyRegistryTree(pNode, nullptr);
        if (item.dwChange == REG_VALUES_CHANGED)
            item.pAfter = ReadKeyValues(pNode);
    }
    return true;
}

bool AddFileItem(const std::string& folder, const DEACTION* pact, LogItem& item) {
    switch (pact->wKind) {
    case DEA_FOLDER:
    case DEA_GROUP:
        ListFolder(pact->wKind == DEA_FOLDER ? pact->szObject : item.extra, item);
        return true;
    case DEA_FILE:
    case DEA_ICON:
        if (FileStamp stamp;
            StampFile(pact->wKind == DEA_FILE ? pact->szObject : item.extra, stamp))
            item.files.push_back(std::move(stamp));
        return true;
    case DEA_RESTORE: {
        if (FileStamp stamp; StampFile(pact->szObject, stamp))
            item.files.push_back(std::move(stamp));
        item.backup = item.object.substr(item.object.rfind('\\') + 1);
        std::string backups = JoinPath(folder.c_str(), kBackupFolderName);
        CreateDirectoryA(backups.c_str(), nullptr);
        return CopyFileA(JoinPath(szTempDir, item.backup.c_str()).c_str(),
                         JoinPath(backups.c_str(), item.backup.c_str()).c_str(), FALSE) != 0;
    }
    default:
        return AddRegistryItem(pact, item);
    }
}

std::string UtcNow() {
    std::time_t now = std::time(nullptr);
    char szText[32];
    std::strftime(szText, sizeof szText, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
    return szText;
}

} // namespace

bool SaveSessionAsLog(const std::string& folder, InstallLog& log) {
    CreateDirectoryA(folder.c_str(), nullptr);
    log.installed = UtcNow();
    for (NAMEITEM* pItem = Cautions; pItem; pItem = pItem->pNext)
        log.cautions.push_back(pItem->szName);
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->fDone)
            continue;
        LogItem& item = log.items.emplace_back();
        item.wKind = pact->wKind;
        item.wOrder = pact->wOrder;
        item.description = pact->pszDescription;
        item.object = pact->szObject;
        if ((pact->wKind == DEA_GROUP || pact->wKind == DEA_ICON) && pact->pExtra)
            item.extra = static_cast<const char*>(pact->pExtra);
        if (!AddFileItem(folder, pact, item))
            return false;
    }
    return true;
}
