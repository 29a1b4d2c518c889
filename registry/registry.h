// Snapshots of four parts of the registry, their comparison into registry
// undo actions, the setup's own uninstaller, and the restore of keys.
#pragma once

#include "common/handles.h"

#include <windows.h>

#include <string>

struct DEACTION;

constexpr DWORD RTREE_SENT = 0xA5A5A5A5;
constexpr DWORD RDATA_SENT = 0x5A5A5A5A;
constexpr DWORD REGTRE_SENT = 0xF1F1F1F1;

struct RDATA;

// One registry key.
struct RTREE {
    DWORD dwSent;
    DWORD dwChange; // 3 values changed, 4 key added, 5 key deleted
    HKEY hRoot;
    RTREE* pParent;
    RTREE* pNext;
    RTREE* pChild;
    RDATA* pData;
    char* pszName;
    // The key's reading was refused: it is recorded empty, never re-created,
    // and the undo of a key above it leaves it in place.
    BOOL fUnreadable;
};

// One value; the data follows the fixed part, then 4 zero bytes.
struct RDATA {
    DWORD dwSent;
    DWORD dwType;
    DWORD cbData;
    char* pszName;
    RDATA* pNext;
    BYTE abData[4];
};

// One snapshot root; a snapshot is an array of four.
struct REGTRE {
    DWORD dwSent;
    RTREE* pNode;
    DWORD iRoot;
};

extern REGTRE* RegBefore;
extern REGTRE* RegAfter;

typedef int (*PFNREGCHANGE)(const char* pszParentPath, const char* pszName, DWORD dwCode,
                            RTREE* pNode);

// Change codes written into a reported node.
enum : DWORD {
    REG_VALUES_CHANGED = 3,
    REG_KEY_ADDED = 4,
    REG_KEY_DELETED = 5,
};

// Directions of a comparison: forward compares before (a) with after (b).
enum : int {
    REG_FORWARD = 0,
    REG_REVERSE = 1,
};

constexpr int cRegRoots = 4;
constexpr int cRegSkipNames = 9;
constexpr size_t cbRegSlot = 32;
constexpr size_t cbRegLongSlot = 256;
// Size of the reader's key path buffer and of the comparison's path buffer.
constexpr size_t cbRegPath = 2048;
// Size of the buffer DescribeRegistryAction writes into (longer texts are cut).
constexpr size_t cbRegDescribe = 1024;

// One row of the root table: what a snapshot root scans and how it is shown.
struct REGROOT {
    HKEY hRoot;
    char szStartPath[cbRegSlot];
    char szDisplayName[cbRegSlot];
};

extern REGROOT aRegRoots[cRegRoots];
extern char aszRegSkip[cRegSkipNames][cbRegSlot];
extern char szRegUninstallPath[cbRegLongSlot];
extern char szRegUninstallValue[cbRegSlot];
extern char szRegExplorerUnload[cbRegLongSlot];

// Tables and the snapshot.
void LoadRegistryStrings();
bool IsSkippedRegistryKey(const char* pszName);
void TakeRegistrySnapshot(REGTRE** ppSnapshot, HWND hwndStatus);
void TakeSoftwareSnapshot(REGTRE** ppSnapshot, HWND hwndStatus);
int ScanRegistryKey(HKEY hRoot, const char* pszPath, RTREE* pNode);

// Nodes, value records and freeing.
RTREE* NewRegistryNode();
RDATA* NewRegistryData(DWORD dwType, DWORD cbData, const BYTE* pbData, const char* pszName,
                       RDATA* pNext);
RTREE* FreeRegistryNode(RTREE* pNode, int fAll);
RDATA* FreeRegistryData(RDATA* pRD, RDATA* pPrev, int fAll);
void FreeRegistrySnapshot(REGTRE** ppSnapshot);

// A heap text buffer, freed also when an exception leaves its scope.
struct RegBuffer {
    char* psz;
    explicit RegBuffer(size_t cb);
    ~RegBuffer();
    RegBuffer(const RegBuffer&) = delete;
    RegBuffer& operator=(const RegBuffer&) = delete;
};

// The runtime-style assertion report: shows the failed expression with its
// module and line, then raises the internal-error code to the nearest guard
// instead of ending the process.
[[noreturn]] void ReportAssertion(const char* pszExpression, const char* pszModule, int iLine);

// Comparison and the actions it makes.
void CompareRegistrySnapshots(REGTRE** ppBefore, REGTRE** ppAfter, PFNREGCHANGE iRegValueChange,
                              PFNREGCHANGE iRegKeyChange);
int CompareRegistryNodes(int iDirection, RTREE* a, RTREE* b, PFNREGCHANGE iRegValueChange,
                         PFNREGCHANGE iRegKeyChange, char* pszPath);
bool SameRegistryValues(const RDATA* a, const RDATA* b);
int IgnoreRegistryChange(const char* pszParentPath, const char* pszName, DWORD dwCode,
                         RTREE* pNode);
int OnRegValueChange(const char* pszParentPath, const char* pszName, DWORD dwCode, RTREE* pNode);
int OnRegKeyChange(const char* pszParentPath, const char* pszName, DWORD dwCode, RTREE* pNode);
int AcceptRegistryAction(DEACTION* pact);
int DescribeRegistryAction(DEACTION* pact, char* pszBuffer);

// The setup's own uninstaller.
int DetectSystemUninstaller(REGTRE** ppBefore, REGTRE** ppAfter);
RTREE* FindRegistryKey(RTREE* pNode, const char* pszPath, char* pszPathBuffer);
int OnUninstallKeyChange(const char* pszParentPath, const char* pszName, DWORD dwCode,
                         RTREE* pNode);
// Offers the uninstaller of an Uninstall entry recorded earlier (its values
// as they are now) as the offer after setup does; 1 when the user stopped.
int OfferRecordedUninstaller(RTREE* pKey);

// Carrying out registry actions.
int DoRegistryAction(DEACTION* pact);
int DeleteRegistryKeyOfNode(RTREE* pNode);
LONG RegDeleteKeyRecursive(HKEY hParent, const char* pszSubkey);
// The same, sparing the keys below that the snapshot node pNode (when
// given) records as unreadable.
LONG DeleteRegistryTree(HKEY hParent, const char* pszSubkey, const RTREE* pNode);
LONG RestoreRegistryKey(RTREE* pNode);
// The live key of a node: its root's start path and the names down to it.
std::string RegistryKeyPath(const RTREE* pNode);
int SetExplorerUnload(int fSet);

// Keys by a path below a root key, of any length; a leading backslash is
// the same as none. A link key at the end of the path is opened as itself,
// not as the key it points at; also one name below an open key.
LONG OpenRegistryPathNoLink(HKEY hRoot, const char* pszPath, REGSAM samDesired, HKEY* phKey);
LONG OpenRegistryKeyNoLink(HKEY hParent, const char* pszName, REGSAM samDesired, HKEY* phKey);
LONG CreateRegistryPath(HKEY hRoot, const char* pszPath, HKEY* phKey, DWORD* pdwDisposition);
LONG DeleteRegistryPath(HKEY hRoot, const char* pszPath);

// The registry functions take paths without a leading backslash.
inline const char* RegistryApiPath(const char* pszPath) {
    return pszPath && pszPath[0] == '\\' ? pszPath + 1 : pszPath;
}
