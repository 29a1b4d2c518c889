// Snapshots of four parts of the registry: the root table and the names it
// skips, read from the string table, and the scan of keys into a tree.
#pragma once

#include "registry/tree.h"

#include <windows.h>

constexpr int cRegRoots = 4;
constexpr int cRegSkipNames = 9;
constexpr size_t cbRegSlot = 32;
constexpr size_t cbRegLongSlot = 256;

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
// The status line "Scanning Registry <root>" of one row of the root table.
void ShowRegistryScanStatus(int iRoot, HWND hwndStatus);
// Reads one root of a snapshot whole, under a guard; a failure is reported
// with iHandler, and false returned when the user goes on.
bool ScanRegistryRoot(REGTRE* pEntry, HWND hwndStatus, int iHandler);
