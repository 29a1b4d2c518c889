// Comparison of two registry snapshots into registry undo actions.
#pragma once

#include "registry/tree.h"

#include <windows.h>

struct DEACTION;

typedef int (*PFNREGCHANGE)(const char* pszParentPath, const char* pszName, DWORD dwCode,
                            RTREE* pNode);

// Directions of a comparison: forward compares before (a) with after (b).
enum : int {
    REG_FORWARD = 0,
    REG_REVERSE = 1,
};

// Size of the buffer DescribeRegistryAction writes into (longer texts are cut).
constexpr size_t cbRegDescribe = 1024;

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
