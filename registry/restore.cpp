// Carrying out registry actions: an added key is deleted with everything
// below it, a deleted key is re-created from the before snapshot, a key with
// changed values is deleted and re-created. Also the shell's AlwaysUnloadDLL
// setting, switched on while the undo actions are offered and carried out.
#include "registry/restore.h"

#include "registry/snapshot.h"
#include "registry/rdelkey.h"
#include "registry/keypath.h"
#include "registry/wide_names.h"
#include "common/handles.h"

#include "actions/deaction.h"
#include "files/lists.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/internal_error.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kUnreadKeyCaution[] =
    "Registry key %s could not be read before setup and was left as it is.";

// The AlwaysUnloadDLL key as it was before the session changed it.
RTREE* pSavedExplorerUnload;

const char* StartPathOfRoot(HKEY hRoot) {
    for (const REGROOT& root : aRegRoots) {
        if (root.hRoot == hRoot)
            return root.szStartPath;
    }
    return "";
}

// The list holds the values in the reverse of their enumeration order; they
// are written back in their enumeration order.
void WriteValues(HKEY hKey, const RDATA* pRD) {
    std::vector<const RDATA*> values;
    for (; pRD; pRD = pRD->pNext)
        values.push_back(pRD);
    for (auto it = values.rbegin(); it != values.rend(); ++it)
        SetRegistryValueText(hKey, (*it)->pszName, (*it)->dwType, (*it)->abData, (*it)->cbData);
}

void ShowCriticalError() {
    char szTitle[128];
    lstrcpynA(szTitle, GetResString(IDS_UNINSTALLER_ERROR_TITLE), sizeof szTitle);
    ShowLibraryBox(HostBoxOwner(), GetResString(IDS_REGISTRY_CRITICAL), MB_OK, szTitle);
}

// Scans the AlwaysUnloadDLL key as it is now and switches the setting on.
void SaveAndSetExplorerUnload() {
    ScanRegistryKey(HKEY_LOCAL_MACHINE, szRegExplorerUnload + 1, pSavedExplorerUnload);
    RegSetValueA(HKEY_LOCAL_MACHINE, RegistryApiPath(szRegExplorerUnload), REG_SZ, "1", 1);
}

void PutBackExplorerUnload() {
    if (const RDATA* pRD = pSavedExplorerUnload->pData) {
        const char* pszData = reinterpret_cast<const char*>(pRD->abData);
        RegSetValueA(HKEY_LOCAL_MACHINE, RegistryApiPath(szRegExplorerUnload), REG_SZ, pszData,
                     static_cast<DWORD>(std::strlen(pszData)));
    }
    pSavedExplorerUnload = FreeRegistryNode(pSavedExplorerUnload, 1);
}

// Re-creates one key at pszPath below an open key, then its subtree through
// its own handle, then its values; a link key is made a link again, its
// target its only value. A key that cannot be created is reported; its
// siblings still follow. A key whose reading was refused was never deleted
// and has nothing to put back.
LONG RestoreBelow(HKEY hParent, const char* pszPath, RTREE* pNode) {
    if (pNode->fUnreadable)
        return ERROR_SUCCESS;
    LONG lResult = ERROR_SUCCESS;
    bool fFinished = Guarded([&] {
        HKEY hKey = nullptr;
        DWORD dwDisposition = 0;
        DWORD dwOptions = IsRegistryLink(pNode) ? REG_OPTION_CREATE_LINK : REG_OPTION_NON_VOLATILE;
        lResult = CreateRegistryPath(hParent, pszPath, &hKey, &dwDisposition, dwOptions);
        if (lResult != ERROR_SUCCESS)
            InternalErrorMsg(GetResString(IDS_CANNOT_CREATE_KEY), "Registry", __LINE__);
        RegistryKey key(hKey);
        for (RTREE* pChild = pNode->pChild; pChild; pChild = pChild->pNext)
            RestoreBelow(key.get(), pChild->pszName, pChild);
        WriteValues(key.get(), pNode->pData);
    });
    if (!fFinished)
        ReportInternalException("Registry", 5, __LINE__);
    return lResult;
}

// A key whose own contents could not be read before setup is never deleted:
// what was recorded of its values is written back one by one, everything
// else stays, and a caution names the key.
void PutBackUnreadKey(RTREE* pNode) {
    std::string path = RegistryKeyPath(pNode);
    HKEY hKey = nullptr;
    if (OpenRegistryPathNoLink(pNode->hRoot, path.c_str(), KEY_ALL_ACCESS, &hKey) ==
        ERROR_SUCCESS) {
        RegistryKey key(hKey);
        WriteValues(key.get(), pNode->pData);
    }
    AddCaution(kUnreadKeyCaution, ShownRegistryPath(pNode->hRoot, path).c_str());
}

} // namespace

// The live key of a node: the start path of its root, then the names from
// the tree root down to the node, e.g. Software\Acme\Settings.
std::string RegistryKeyPath(const RTREE* pNode) {
    std::vector<const char*> names;
    for (const RTREE* p = pNode; p && p->pParent; p = p->pParent)
        names.push_back(p->pszName);
    std::string path = StartPathOfRoot(pNode->hRoot);
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!path.empty())
            path += '\\';
        path += *it;
    }
    return path;
}

int DoRegistryAction(DEACTION* pact) {
    auto* pNode = static_cast<RTREE*>(pact->pExtra);
    if (!pNode)
        return 1;
    switch (pNode->dwChange) {
    case REG_VALUES_CHANGED:
        if (pNode->fUnreadable) {
            PutBackUnreadKey(pNode);
            break;
        }
        DeleteRegistryKeyOfNode(pNode);
        RestoreRegistryKey(pNode);
        break;
    case REG_KEY_ADDED:
        DeleteRegistryKeyOfNode(pNode);
        break;
    case REG_KEY_DELETED:
        RestoreRegistryKey(pNode);
        break;
    default:
        ShowCriticalError();
        break;
    }
    return 1;
}

int DeleteRegistryKeyOfNode(RTREE* pNode) {
    std::string path = RegistryKeyPath(pNode);
    if (!Guarded([&] { DeleteRegistryTree(pNode->hRoot, path.c_str(), pNode); }))
        ReportInternalException("Registry", 1, __LINE__);
    return 1;
}

LONG RestoreRegistryKey(RTREE* pNode) {
    if (!pNode)
        return 0;
    return RestoreBelow(pNode->hRoot, RegistryKeyPath(pNode).c_str(), pNode);
}

int SetExplorerUnload(int fSet) {
    if (fSet) {
        if (pSavedExplorerUnload) {
            pSavedExplorerUnload = FreeRegistryNode(pSavedExplorerUnload, 1);
            return 0;
        }
        pSavedExplorerUnload = NewRegistryNode();
        if (Guarded([] { SaveAndSetExplorerUnload(); }))
            return 1;
        ReportInternalException("Registry", 3, __LINE__);
        return 0;
    }
    if (!pSavedExplorerUnload)
        return 0;
    if (Guarded([] { PutBackExplorerUnload(); }))
        return 1;
    ReportInternalException("Registry", 4, __LINE__);
    return 0;
}
