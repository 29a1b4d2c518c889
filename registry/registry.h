// Snapshots of four parts of the registry, their comparison into registry
// undo actions, the setup's own uninstaller, and the restore of keys.
#pragma once

#include <windows.h>

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

void LoadRegistryStrings();
void TakeRegistrySnapshot(REGTRE** ppSnapshot, HWND hwndStatus);
void TakeSoftwareSnapshot(REGTRE** ppSnapshot, HWND hwndStatus);
void FreeRegistrySnapshot(REGTRE** ppSnapshot);
void CompareRegistrySnapshots(REGTRE** ppBefore, REGTRE** ppAfter, PFNREGCHANGE iRegValueChange,
                              PFNREGCHANGE iRegKeyChange);
int OnRegValueChange(const char* pszParentPath, const char* pszName, DWORD dwCode, RTREE* pNode);
int OnRegKeyChange(const char* pszParentPath, const char* pszName, DWORD dwCode, RTREE* pNode);
int DetectSystemUninstaller(REGTRE** ppBefore, REGTRE** ppAfter);
int SetExplorerUnload(int fSet);
int AcceptRegistryAction(DEACTION* pact);
int DoRegistryAction(DEACTION* pact);
int DescribeRegistryAction(DEACTION* pact, char* pszBuffer);
