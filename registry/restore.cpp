// Carrying out registry actions: an added key is deleted with everything
// below it, a deleted key is re-created from the before snapshot, a key with
// changed values is deleted and re-created. Also the shell's AlwaysUnloadDLL
// setting, switched on while the undo actions are offered and carried out.
#include "registry/registry.h"

#include "actions/deaction.h"
#include "common/util.h"
#include "resources/resource.h"
#include "session/guard.h"
#include "session/report.h"
#include "session/session.h"

#include <cstdlib>
#include <cstring>

namespace {

// The AlwaysUnloadDLL key as it was before the session changed it.
RTREE* pSavedExplorerUnload;

// What one restore or deletion holds, released also when an exception
// leaves it.
struct KeyPathWork {
    char* pszBuffer = static_cast<char*>(AllocOrDie(cbRegPath));
    HKEY hKey = nullptr;
    KeyPathWork() = default;
    KeyPathWork(const KeyPathWork&) = delete;
    KeyPathWork& operator=(const KeyPathWork&) = delete;
    ~KeyPathWork() {
        if (hKey)
            RegCloseKey(hKey);
        std::free(pszBuffer);
    }
};

const char* StartPathOfRoot(HKEY hRoot) {
    for (const REGROOT& root : aRegRoots) {
        if (root.hRoot == hRoot)
            return root.szStartPath;
    }
    return "";
}

// Puts pszText, and a backslash when something already follows, in front
// of *ppsz, which points into pszBuffer; false when it does not fit.
bool PrependComponent(const char* pszBuffer, char** ppsz, const char* pszText) {
    size_t cch = std::strlen(pszText);
    bool fSeparator = **ppsz != '\0';
    if (static_cast<size_t>(*ppsz - pszBuffer) < cch + (fSeparator ? 1 : 0))
        return false;
    if (fSeparator)
        *--*ppsz = '\\';
    *ppsz -= cch;
    std::memcpy(*ppsz, pszText, cch);
    return true;
}

void WriteValues(HKEY hKey, const RDATA* pRD) {
    for (; pRD; pRD = pRD->pNext)
        RegSetValueExA(hKey, pRD->pszName, 0, pRD->dwType, pRD->abData, pRD->cbData);
}

void ShowCriticalError() {
    char szTitle[128];
    lstrcpynA(szTitle, GetResString(IDS_UNINSTALLER_ERROR_TITLE), sizeof szTitle);
    MessageBoxA(GetOwnerWindow(hwndParent), GetResString(IDS_REGISTRY_CRITICAL), szTitle, MB_OK);
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

} // namespace

// The live key of a node: the start path of its root, then the names from
// the tree root down to the node, e.g. Software\Acme\Settings.
bool BuildRegistryKeyPath(const RTREE* pNode, char* pszBuffer, size_t cbBuffer,
                          const char** ppszPath) {
    char* psz = pszBuffer + cbBuffer - 1;
    *psz = '\0';
    *ppszPath = psz;
    for (const RTREE* p = pNode; p && p->pParent; p = p->pParent) {
        if (!PrependComponent(pszBuffer, &psz, p->pszName))
            return false;
    }
    const char* pszStart = StartPathOfRoot(pNode->hRoot);
    if (pszStart[0] && !PrependComponent(pszBuffer, &psz, pszStart))
        return false;
    *ppszPath = psz;
    return true;
}

int DoRegistryAction(DEACTION* pact) {
    auto* pNode = static_cast<RTREE*>(pact->pExtra);
    if (!pNode)
        return 1;
    switch (pNode->dwChange) {
    case REG_VALUES_CHANGED:
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
    KeyPathWork work;
    bool fFinished = Guarded([&] {
        const char* pszPath = nullptr;
        if (!BuildRegistryKeyPath(pNode, work.pszBuffer, cbRegPath, &pszPath))
            InternalErrorMsg("Error Deleting Registry Key.", "Rdelkey", __LINE__);
        RegDeleteKeyRecursive(pNode->hRoot, pszPath);
    });
    if (!fFinished)
        ReportInternalException("Registry", 1, __LINE__);
    return 1;
}

// Re-creates the node's key, its subtree and then its values. A key that
// cannot be created is reported; its siblings still follow.
LONG RestoreRegistryKey(RTREE* pNode) {
    if (!pNode)
        return 0;
    LONG lResult = ERROR_SUCCESS;
    KeyPathWork work;
    bool fFinished = Guarded([&] {
        const char* pszPath = nullptr;
        DWORD dwDisposition = 0;
        if (!BuildRegistryKeyPath(pNode, work.pszBuffer, cbRegPath, &pszPath))
            lResult = ERROR_FILENAME_EXCED_RANGE;
        else
            lResult = CreateRegistryPath(pNode->hRoot, pszPath, &work.hKey, &dwDisposition);
        if (lResult != ERROR_SUCCESS) {
            work.hKey = nullptr;
            InternalErrorMsg(GetResString(IDS_CANNOT_CREATE_KEY), "Registry", __LINE__);
        }
        for (RTREE* pChild = pNode->pChild; pChild; pChild = pChild->pNext)
            RestoreRegistryKey(pChild);
        WriteValues(work.hKey, pNode->pData);
    });
    if (!fFinished)
        ReportInternalException("Registry", 5, __LINE__);
    return lResult;
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
