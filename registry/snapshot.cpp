// The registry tables (what is scanned, how it is shown, what is skipped)
// and the recursive reader that copies four parts of the registry.
#include "registry/registry.h"

#include "common/util.h"
#include "resources/resource.h"
#include "session/guard.h"
#include "session/report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

REGROOT aRegRoots[cRegRoots] = {
    {HKEY_CLASSES_ROOT, "", ""},
    {HKEY_LOCAL_MACHINE, "", ""},
    {HKEY_CURRENT_USER, "", ""},
    {HKEY_USERS, "", ""},
};
char aszRegSkip[cRegSkipNames][cbRegSlot];
char szRegUninstallPath[cbRegLongSlot];
char szRegUninstallValue[cbRegSlot];
char szRegExplorerUnload[cbRegLongSlot];

namespace {

constexpr DWORD cbValueName = 512;
constexpr DWORD cbValueData = 8192;
constexpr DWORD cbSubkeyName = 128;

// Shared by every key of every scan: ordinary values are read here.
char szValueName[cbValueName];
BYTE abValueData[cbValueData];

constexpr UINT aidSkipNames[cRegSkipNames] = {
    IDS_SKIP_INSTALL_LOCATIONS, IDS_SKIP_RUN_MRU,      IDS_SKIP_STREAM_MRU,
    IDS_SKIP_STREAMS,           IDS_SKIP_RECENT_LOWER, IDS_SKIP_RECENT,
    IDS_SKIP_RECENT_FILE_LIST,  IDS_SKIP_RECENT_DOCS,  IDS_SKIP_UUID_DATA,
};

void CopySlot(char* pszSlot, size_t cbSlot, UINT uId) {
    lstrcpynA(pszSlot, GetResString(uId), static_cast<int>(cbSlot));
}

// A key handle closed when the scan of its key ends, also by an exception.
struct OpenKey {
    HKEY h = nullptr;
    OpenKey() = default;
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() { Close(); }
    void Close() {
        if (h)
            RegCloseKey(h);
        h = nullptr;
    }
};

void CheckNodeGiven(const RTREE* pNode, int iLine) {
    if (!pNode)
        ReportAssertion("pNode", "Registry", iLine);
}

// Reads the value at iIndex again into buffers as large as the key's
// longest name and data, and prepends its record to pNode's list.
void RereadLargeValue(HKEY hKey, DWORD iIndex, RTREE* pNode) {
    DWORD cchMaxName = 0, cbMaxData = 0;
    if (RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &cchMaxName, &cbMaxData, nullptr, nullptr) != ERROR_SUCCESS)
        FatalOutOfMemory();
    auto* pszName = static_cast<char*>(std::malloc(cchMaxName + 1));
    auto* pbData = static_cast<BYTE*>(std::malloc(cbMaxData + 1));
    DWORD cchName = cchMaxName + 1, cbData = cbMaxData + 1, dwType = 0;
    if (!pszName || !pbData ||
        RegEnumValueA(hKey, iIndex, pszName, &cchName, nullptr, &dwType, pbData, &cbData) !=
            ERROR_SUCCESS) {
        std::free(pszName);
        std::free(pbData);
        FatalOutOfMemory();
    }
    pNode->pData = NewRegistryData(dwType, cbData, pbData, pszName, pNode->pData);
    std::free(pszName);
    std::free(pbData);
}

// Values stand in the reverse of the enumeration order: each record becomes
// the new head. The first value that cannot be read ends the list.
void ReadValues(HKEY hKey, RTREE* pNode) {
    for (DWORD iIndex = 0;; ++iIndex) {
        DWORD cchName = cbValueName, cbData = cbValueData, dwType = 0;
        if (RegEnumValueA(hKey, iIndex, szValueName, &cchName, nullptr, &dwType, abValueData,
                          &cbData) != ERROR_SUCCESS)
            break;
        if (cbData == cbValueData)
            RereadLargeValue(hKey, iIndex, pNode);
        else
            pNode->pData = NewRegistryData(dwType, cbData, abValueData, szValueName, pNode->pData);
    }
}

// Children stand in enumeration order; skip-list names are left out.
void ReadSubkeyNames(HKEY hKey, HKEY hRoot, RTREE* pNode, char* pszSubkey) {
    RTREE* pLast = nullptr;
    for (DWORD iIndex = 0; RegEnumKeyA(hKey, iIndex, pszSubkey, cbSubkeyName) == ERROR_SUCCESS;
         ++iIndex) {
        if (!pszSubkey[0])
            ReportAssertion("pszValue[0]", "Registry", __LINE__);
        if (IsSkippedRegistryKey(pszSubkey))
            continue;
        RTREE* pChild = NewRegistryNode();
        pChild->pParent = pNode;
        std::free(pChild->pszName);
        pChild->pszName = DupString(pszSubkey);
        pChild->hRoot = hRoot;
        if (pLast)
            pLast->pNext = pChild;
        else
            pNode->pChild = pChild;
        pLast = pChild;
    }
}

// Builds "path\name" in the path buffer; false when it would not fit, in
// which case the child stays as read so far (an empty node).
bool BuildChildPath(char* pszBuffer, const char* pszPath, const char* pszName) {
    int cch = pszPath ? std::snprintf(pszBuffer, cbRegPath, "%s\\%s", pszPath, pszName)
                      : std::snprintf(pszBuffer, cbRegPath, "%s", pszName);
    return cch >= 0 && static_cast<size_t>(cch) < cbRegPath;
}

void ScanOneRoot(REGTRE* pEntry, HWND hwndStatus, int iHandler) {
    const REGROOT& root = aRegRoots[pEntry->iRoot];
    char szStatus[256];
    std::snprintf(szStatus, sizeof szStatus, GetResString(IDS_SCANNING_REGISTRY),
                  root.szDisplayName);
    ShowStatus(hwndStatus, szStatus);
    if (!Guarded([&] { ScanRegistryKey(root.hRoot, root.szStartPath, pEntry->pNode); }))
        ReportInternalException("Registry", iHandler, __LINE__);
}

REGTRE* NewSnapshot(REGTRE** ppSnapshot) {
    auto* p = static_cast<REGTRE*>(AllocZeroedOrDie(sizeof(REGTRE) * cRegRoots));
    *ppSnapshot = p;
    for (int i = 0; i < cRegRoots; ++i) {
        p[i].dwSent = REGTRE_SENT;
        p[i].iRoot = static_cast<DWORD>(i);
        p[i].pNode = NewRegistryNode();
    }
    return p;
}

} // namespace

void LoadRegistryStrings() {
    const UINT aidDisplay[cRegRoots] = {IDS_HKCR_NAME, IDS_HKLM_NAME, IDS_HKCU_NAME, IDS_HKU_NAME};
    for (int i = 0; i < cRegRoots; ++i) {
        CopySlot(aRegRoots[i].szDisplayName, cbRegSlot, aidDisplay[i]);
        aRegRoots[i].szStartPath[0] = '\0';
    }
    CopySlot(aRegRoots[1].szStartPath, cbRegSlot, IDS_SOFTWARE);
    CopySlot(aRegRoots[2].szStartPath, cbRegSlot, IDS_SOFTWARE);
    for (int i = 0; i < cRegSkipNames; ++i)
        CopySlot(aszRegSkip[i], cbRegSlot, aidSkipNames[i]);
    CopySlot(szRegUninstallPath, cbRegLongSlot, IDS_UNINSTALL_KEY);
    CopySlot(szRegUninstallValue, cbRegSlot, IDS_UNINSTALL_STRING);
    CopySlot(szRegExplorerUnload, cbRegLongSlot, IDS_EXPLORER_UNLOAD_KEY);
}

// Exact, case-sensitive: "RECENT" is recorded, "recent" and "Recent" are not.
bool IsSkippedRegistryKey(const char* pszName) {
    for (const char* pszSkip : aszRegSkip) {
        if (pszSkip[0] && std::strcmp(pszSkip, pszName) == 0)
            return true;
    }
    return false;
}

int ScanRegistryKey(HKEY hRoot, const char* pszPath, RTREE* pNode) {
    CheckNodeGiven(pNode, __LINE__);
    PumpMessages();
    OpenKey key;
    if (OpenRegistryPath(hRoot, pszPath, KEY_READ, &key.h) != ERROR_SUCCESS)
        return 1;
    RegBuffer name(cbSubkeyName), childPath(cbRegPath);
    pNode->hRoot = hRoot;
    PumpMessages();
    CheckNodeGiven(pNode, __LINE__);
    OpenKey values;
    if (OpenRegistryPath(hRoot, pszPath, KEY_READ, &values.h) != ERROR_SUCCESS)
        InternalErrorMsg(GetResString(IDS_EMPTY_REASON_202), "Registry", __LINE__);
    ReadValues(values.h, pNode);
    values.Close();
    ReadSubkeyNames(key.h, hRoot, pNode, name.psz);
    key.Close();
    for (RTREE* pChild = pNode->pChild; pChild; pChild = pChild->pNext) {
        if (BuildChildPath(childPath.psz, pszPath, pChild->pszName))
            ScanRegistryKey(hRoot, childPath.psz, pChild);
    }
    return 1;
}

void TakeRegistrySnapshot(REGTRE** ppSnapshot, HWND hwndStatus) {
    REGTRE* p = NewSnapshot(ppSnapshot);
    for (int i = 0; i < cRegRoots; ++i)
        ScanOneRoot(&p[i], hwndStatus, 6);
}

void TakeSoftwareSnapshot(REGTRE** ppSnapshot, HWND hwndStatus) {
    REGTRE* p = NewSnapshot(ppSnapshot);
    ScanOneRoot(&p[1], hwndStatus, 7);
}
