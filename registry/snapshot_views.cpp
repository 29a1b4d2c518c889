// The full snapshot's roots, each physical key read once. HKEY_CURRENT_USER
// is a view of one key of HKEY_USERS, and HKEY_CLASSES_ROOT one of
// HKLM\Software\Classes where no per-user class keys are merged into it: such
// a root is copied from the other root's tree once that is read, but only
// where a marker key proves it each time, so that a system that differs is
// read as before.
#include "registry/snapshot_views.h"

#include "registry/snapshot.h"
#include "registry/keypath.h"
#include "registry/uninstaller.h"
#include "common/strings.h"
#include "common/handles.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Rows of the root table.
constexpr int iClassesRow = 0, iMachineRow = 1, iUserRow = 2, iUsersRow = 3;

// The class keys below a start key "Software", the machine's and the user's.
constexpr char kClasses[] = "Classes";

std::string BelowStart(int iRow, const std::string& rest) {
    std::string start = aRegRoots[iRow].szStartPath;
    return start.empty() ? rest : start + "\\" + rest;
}

// A volatile key of a name nothing else uses, made below an existing key
// and deleted again when this goes. Nothing is made where the key is missing
// or cannot be written, and a key that was there already is left alone.
class MarkerKey {
  public:
    MarkerKey(HKEY hRoot, const std::string& parentPath) {
        HKEY hParent = nullptr;
        if (OpenRegistryPathNoLink(hRoot, parentPath.c_str(),
                                   KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS,
                                   &hParent) != ERROR_SUCCESS)
            return;
        parent_.Reset(hParent);
        static LONG cMarkers;
        char szName[80];
        std::snprintf(szName, sizeof szName, "Trun95 view marker %lu.%lu.%ld",
                      GetCurrentProcessId(), GetTickCount(), InterlockedIncrement(&cMarkers));
        HKEY hKey = nullptr;
        DWORD dwDisposition = 0;
        if (RegCreateKeyExA(hParent, szName, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr,
                            &hKey, &dwDisposition) != ERROR_SUCCESS)
            return;
        RegCloseKey(hKey);
        if (dwDisposition == REG_CREATED_NEW_KEY)
            name_ = szName;
    }
    ~MarkerKey() {
        if (!name_.empty())
            RegDeleteKeyA(parent_.get(), name_.c_str());
    }
    MarkerKey(const MarkerKey&) = delete;
    MarkerKey& operator=(const MarkerKey&) = delete;

    bool Made() const { return !name_.empty(); }
    // Whether the marker is seen below path (empty: the root itself).
    bool SeenBelow(HKEY hRoot, const std::string& path) const {
        std::string full = path.empty() ? name_ : path + "\\" + name_;
        HKEY hKey = nullptr;
        if (!Made() ||
            OpenRegistryPathNoLink(hRoot, full.c_str(), KEY_READ, &hKey) != ERROR_SUCCESS)
            return false;
        RegistryKey key(hKey);
        return true;
    }

  private:
    RegistryKey parent_;
    std::string name_;
};

std::vector<std::string> SubkeyNames(HKEY hKey) {
    std::vector<std::string> names;
    char szName[256];
    for (DWORD iIndex = 0;; ++iIndex) {
        DWORD cchName = sizeof szName;
        LONG lResult =
            RegEnumKeyExA(hKey, iIndex, szName, &cchName, nullptr, nullptr, nullptr, nullptr);
        if (lResult == ERROR_MORE_DATA)
            continue;
        if (lResult != ERROR_SUCCESS)
            return names;
        names.push_back(szName);
    }
}

// The one key of HKEY_USERS below which a marker written under the current
// user's start key is seen; false when none or more than one shows it.
bool FindUserView(std::string* pPath) {
    const std::string start = aRegRoots[iUserRow].szStartPath;
    MarkerKey marker(HKEY_CURRENT_USER, start);
    if (!marker.Made())
        return false;
    std::vector<std::string> seen;
    for (const std::string& user : SubkeyNames(HKEY_USERS)) {
        std::string path = BelowStart(iUsersRow, user + "\\" + start);
        if (marker.SeenBelow(HKEY_USERS, path))
            seen.push_back(path);
    }
    if (seen.size() != 1)
        return false;
    *pPath = seen.front();
    return true;
}

// Whether HKEY_CLASSES_ROOT shows class keys of the user too: never when the
// user has none, else when a marker among them is seen there (or cannot be
// written to tell).
bool MergesUserClasses() {
    const std::string userClasses = BelowStart(iUserRow, kClasses);
    HKEY hKey = nullptr;
    LONG lResult = OpenRegistryPathNoLink(HKEY_CURRENT_USER, userClasses.c_str(), KEY_READ, &hKey);
    if (lResult == ERROR_FILE_NOT_FOUND)
        return false;
    if (lResult != ERROR_SUCCESS)
        return true;
    RegistryKey key(hKey);
    DWORD cSubkeys = 0, cValues = 0;
    if (RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &cSubkeys, nullptr, nullptr, &cValues,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        cSubkeys == 0 && cValues == 0)
        return false;
    MarkerKey marker(HKEY_CURRENT_USER, userClasses);
    return !marker.Made() ||
           marker.SeenBelow(HKEY_CLASSES_ROOT, aRegRoots[iClassesRow].szStartPath);
}

// HKEY_CLASSES_ROOT is the machine's class key when a marker written there is
// seen in it and it merges no class keys of the user.
bool ClassesRootIsMachineClasses() {
    {
        MarkerKey marker(HKEY_LOCAL_MACHINE, BelowStart(iMachineRow, kClasses));
        if (!marker.SeenBelow(HKEY_CLASSES_ROOT, aRegRoots[iClassesRow].szStartPath))
            return false;
    }
    return !MergesUserClasses();
}

// Where a root's keys come from: read on their own (iSource -1), or the node
// at path below the start key of the root in row iSource.
struct RootSource {
    int iSource = -1;
    std::string path;
};

void FindRootSources(RootSource aSources[cRegRoots]) {
    if (FindUserView(&aSources[iUserRow].path))
        aSources[iUserRow].iSource = iUsersRow;
    if (ClassesRootIsMachineClasses()) {
        aSources[iClassesRow].iSource = iMachineRow;
        aSources[iClassesRow].path = kClasses;
    }
}

// The node a view is copied from, when its root was read whole and the node
// was read as an ordinary key (a link or a refused key is read on its own).
RTREE* ViewNode(RTREE* pSourceRoot, const std::string& path) {
    char szBuffer[cbRegPath] = "";
    RTREE* pNode = FindRegistryKey(pSourceRoot, ("\\" + path).c_str(), szBuffer);
    return pNode && !pNode->fUnreadable && !IsRegistryLink(pNode) ? pNode : nullptr;
}

// Fills a view root from its source's tree; false when the source was not
// read whole or its node cannot stand for the view.
bool CopyView(REGTRE* pSnapshot, int iRow, const RootSource& source, bool fSourceRead) {
    RTREE* pFrom = fSourceRead ? ViewNode(pSnapshot[source.iSource].pNode, source.path) : nullptr;
    if (!pFrom)
        return false;
    // The copy stands for the root's start key, which has no name in a tree.
    RTREE* pRoot = CopyRegistryTree(pFrom, nullptr, aRegRoots[iRow].hRoot);
    std::free(pRoot->pszName);
    pRoot->pszName = DupString("");
    FreeRegistryNode(pSnapshot[iRow].pNode, 1);
    pSnapshot[iRow].pNode = pRoot;
    return true;
}

} // namespace

void ScanRegistryRoots(REGTRE* pSnapshot, HWND hwndStatus, int iHandler) {
    RootSource aSources[cRegRoots];
    FindRootSources(aSources);
    bool afRead[cRegRoots] = {};
    for (int i = 0; i < cRegRoots; ++i) {
        if (aSources[i].iSource < 0)
            afRead[i] = ScanRegistryRoot(&pSnapshot[i], hwndStatus, iHandler);
    }
    for (int i = 0; i < cRegRoots; ++i) {
        const RootSource& source = aSources[i];
        if (source.iSource < 0)
            continue;
        ShowRegistryScanStatus(i, hwndStatus);
        if (!CopyView(pSnapshot, i, source, afRead[source.iSource]))
            ScanRegistryRoot(&pSnapshot[i], hwndStatus, iHandler);
    }
}
