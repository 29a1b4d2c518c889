// The registry tables (what is scanned, how it is shown, what is skipped)
// and the recursive reader that copies four parts of the registry.
#include "registry/snapshot.h"

#include "registry/tree.h"
#include "registry/keypath.h"
#include "registry/wide_names.h"
#include "registry/snapshot_views.h"
#include "common/handles.h"

#include "common/strings.h"
#include "common/status.h"
#include "common/boxes.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/internal_error.h"

#include <algorithm>
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

// A growable buffer shared by every key of every scan: ordinary names and
// values fit the first size; a key that holds longer ones grows it once.
struct SharedBuffer {
    char* p = nullptr;
    DWORD cb = 0;
    explicit SharedBuffer(DWORD cbFirst) { Grow(cbFirst); }
    void Grow(DWORD cbNeeded) {
        if (cbNeeded <= cb)
            return;
        void* pNew = std::realloc(p, cbNeeded);
        if (!pNew)
            FatalOutOfMemory();
        p = static_cast<char*>(pNew);
        cb = cbNeeded;
    }
};

SharedBuffer valueName(512);
SharedBuffer valueData(8192);
SharedBuffer subkeyName(256);

// A value that keeps growing while it is read is given up after this many
// tries, so that a key changing under the reader cannot hold it forever.
constexpr int cReadTries = 4;

constexpr UINT aidSkipNames[cRegSkipNames] = {
    IDS_SKIP_INSTALL_LOCATIONS, IDS_SKIP_RUN_MRU,      IDS_SKIP_STREAM_MRU,
    IDS_SKIP_STREAMS,           IDS_SKIP_RECENT_LOWER, IDS_SKIP_RECENT,
    IDS_SKIP_RECENT_FILE_LIST,  IDS_SKIP_RECENT_DOCS,  IDS_SKIP_UUID_DATA,
};

void CopySlot(char* pszSlot, size_t cbSlot, UINT uId) {
    lstrcpynA(pszSlot, GetResString(uId), static_cast<int>(cbSlot));
}

void CheckNodeGiven(const RTREE* pNode, int iLine) {
    if (!pNode)
        ReportAssertion("pNode", "Registry", iLine);
}

// What one query tells about a key: how many values and subkeys it holds
// and how long their names and data are at most. Counts the query could not
// give are left at their largest, and reading stops at the end of the list.
struct KeyInfo {
    DWORD cSubkeys = MAXDWORD;
    DWORD cchMaxSubkey = 0;
    DWORD cValues = MAXDWORD;
    DWORD cchMaxValueName = 0;
    DWORD cbMaxValueData = 0;
};

KeyInfo QueryKeyInfo(HKEY hKey) {
    KeyInfo info;
    if (QueryRegistryKeySizes(hKey, &info.cSubkeys, &info.cchMaxSubkey, &info.cValues,
                              &info.cchMaxValueName, &info.cbMaxValueData) != ERROR_SUCCESS)
        info = KeyInfo{};
    return info;
}

// Makes both value buffers large enough for the longest name and data the
// key holds, with room for the terminating zero.
void FitValueBuffers(const KeyInfo& info) {
    valueName.Grow(info.cchMaxValueName + 1);
    valueData.Grow(info.cbMaxValueData + 1);
}

// Reads the value at iIndex whole: a value longer than the buffers (one
// that grew since the key was queried) is read again into buffers grown to
// the key's new longest name and data. False when there is no such value;
// *pfExact false when its name or text has no exact form.
bool ReadValueAt(HKEY hKey, DWORD iIndex, DWORD* pdwType, DWORD* pcbData, bool* pfExact) {
    for (int iTry = 0; iTry < cReadTries; ++iTry) {
        DWORD cchName = valueName.cb, cbData = valueData.cb;
        LONG lResult = EnumRegistryValue(hKey, iIndex, valueName.p, &cchName, pdwType,
                                         reinterpret_cast<BYTE*>(valueData.p), &cbData, pfExact);
        if (lResult == ERROR_SUCCESS) {
            *pcbData = cbData;
            return true;
        }
        if (lResult != ERROR_MORE_DATA)
            return false;
        KeyInfo info = QueryKeyInfo(hKey);
        valueName.Grow(std::max<DWORD>(info.cchMaxValueName + 1, valueName.cb * 2));
        valueData.Grow(std::max<DWORD>(info.cbMaxValueData + 1, cbData + 1));
    }
    return false;
}

// Values stand in the reverse of the enumeration order: each record becomes
// the new head. False when the key turns out to be a link key, which is
// recorded with its target alone, so that it can be put back as a link. A
// value that cannot be held exactly is left out and its key is never
// rewritten: it counts as unreadable.
bool ReadValues(HKEY hKey, const KeyInfo& info, RTREE* pNode) {
    FitValueBuffers(info);
    DWORD dwType = 0, cbData = 0;
    bool fExact = true;
    for (DWORD iIndex = 0;
         iIndex < info.cValues && ReadValueAt(hKey, iIndex, &dwType, &cbData, &fExact); ++iIndex) {
        if (!fExact) {
            pNode->fUnreadable = TRUE;
            continue;
        }
        if (IsRegistryLinkValue(dwType, valueName.p)) {
            pNode->pData = FreeRegistryData(pNode->pData, nullptr, 1);
            pNode->pData = NewRegistryData(dwType, cbData, reinterpret_cast<BYTE*>(valueData.p),
                                           valueName.p, nullptr);
            return false;
        }
        pNode->pData = NewRegistryData(dwType, cbData, reinterpret_cast<BYTE*>(valueData.p),
                                       valueName.p, pNode->pData);
    }
    return true;
}

// Reads the subkey name at iIndex whole, growing the buffer for a longer
// name. False when there is no such subkey; *pfExact false when its name
// has no exact form.
bool ReadSubkeyNameAt(HKEY hKey, DWORD iIndex, bool* pfExact) {
    for (int iTry = 0; iTry < cReadTries; ++iTry) {
        DWORD cchName = subkeyName.cb;
        LONG lResult = EnumRegistrySubkey(hKey, iIndex, subkeyName.p, &cchName, pfExact);
        if (lResult == ERROR_SUCCESS)
            return true;
        if (lResult != ERROR_MORE_DATA)
            return false;
        subkeyName.Grow(std::max<DWORD>(QueryKeyInfo(hKey).cchMaxSubkey + 1, subkeyName.cb * 2));
    }
    return false;
}

// Children stand in enumeration order; skip-list names are left out. A
// child whose name has no exact form is recorded unreadable, never opened.
void ReadSubkeyNames(HKEY hKey, const KeyInfo& info, HKEY hRoot, RTREE* pNode) {
    subkeyName.Grow(info.cchMaxSubkey + 1);
    RTREE* pLast = nullptr;
    bool fExact = true;
    for (DWORD iIndex = 0; iIndex < info.cSubkeys && ReadSubkeyNameAt(hKey, iIndex, &fExact);
         ++iIndex) {
        if (!subkeyName.p[0])
            ReportAssertion("pszValue[0]", "Registry", __LINE__);
        if (IsSkippedRegistryKey(subkeyName.p))
            continue;
        RTREE* pChild = NewRegistryNode();
        pChild->pParent = pNode;
        std::free(pChild->pszName);
        pChild->pszName = DupString(subkeyName.p);
        pChild->hRoot = hRoot;
        pChild->fUnreadable = !fExact;
        if (pLast)
            pLast->pNext = pChild;
        else
            pNode->pChild = pChild;
        pLast = pChild;
    }
}

// Marks a key whose reading was refused, or one just listed that cannot be
// opened by the name the listing gave (a name the ANSI calls cannot carry):
// it is recorded empty, and the undo of a key above it leaves it in place.
void NoteOpenFailure(LONG lResult, RTREE* pNode) {
    if (lResult == ERROR_ACCESS_DENIED || (pNode->pParent && lResult == ERROR_FILE_NOT_FOUND))
        pNode->fUnreadable = TRUE;
}

// Reads the open key into pNode, then each child through one open relative
// to this key's handle, so that no path is walked again from the root.
void ReadOpenKey(HKEY hKey, HKEY hRoot, RTREE* pNode) {
    PumpMessagesWhenDue();
    KeyInfo info = QueryKeyInfo(hKey);
    if (!ReadValues(hKey, info, pNode))
        return;
    ReadSubkeyNames(hKey, info, hRoot, pNode);
    for (RTREE* pChild = pNode->pChild; pChild; pChild = pChild->pNext) {
        if (pChild->fUnreadable)
            continue;
        HKEY hChild = nullptr;
        LONG lResult = OpenRegistryKeyNoLink(hKey, pChild->pszName, KEY_READ, &hChild);
        if (lResult != ERROR_SUCCESS) {
            NoteOpenFailure(lResult, pChild);
            continue;
        }
        RegistryKey child(hChild);
        ReadOpenKey(child.get(), hRoot, pChild);
    }
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

void ShowRegistryScanStatus(int iRoot, HWND hwndStatus) {
    char szStatus[256];
    std::snprintf(szStatus, sizeof szStatus, GetResString(IDS_SCANNING_REGISTRY),
                  aRegRoots[iRoot].szDisplayName);
    ShowStatus(hwndStatus, szStatus);
}

bool ScanRegistryRoot(REGTRE* pEntry, HWND hwndStatus, int iHandler) {
    const REGROOT& root = aRegRoots[pEntry->iRoot];
    ShowRegistryScanStatus(static_cast<int>(pEntry->iRoot), hwndStatus);
    if (Guarded([&] { ScanRegistryKey(root.hRoot, root.szStartPath, pEntry->pNode); }))
        return true;
    ReportInternalException("Registry", iHandler, __LINE__);
    return false;
}

int ScanRegistryKey(HKEY hRoot, const char* pszPath, RTREE* pNode) {
    CheckNodeGiven(pNode, __LINE__);
    PumpMessagesWhenDue();
    HKEY hKey = nullptr;
    LONG lResult = OpenRegistryPathNoLink(hRoot, pszPath, KEY_READ, &hKey);
    if (lResult != ERROR_SUCCESS) {
        NoteOpenFailure(lResult, pNode);
        return 1;
    }
    RegistryKey key(hKey);
    pNode->hRoot = hRoot;
    ReadOpenKey(key.get(), hRoot, pNode);
    return 1;
}

void TakeRegistrySnapshot(REGTRE** ppSnapshot, HWND hwndStatus) {
    ScanRegistryRoots(NewSnapshot(ppSnapshot), hwndStatus, 6);
}

void TakeSoftwareSnapshot(REGTRE** ppSnapshot, HWND hwndStatus) {
    ScanRegistryRoot(&NewSnapshot(ppSnapshot)[1], hwndStatus, 7);
}
