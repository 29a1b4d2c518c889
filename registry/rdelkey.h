// Deleting a registry key with everything below it.
#pragma once

#include "registry/tree.h"

#include <windows.h>

LONG RegDeleteKeyRecursive(HKEY hParent, const char* pszSubkey);
// The same, sparing the keys below that the snapshot node pNode (when
// given) records as unreadable.
LONG DeleteRegistryTree(HKEY hParent, const char* pszSubkey, const RTREE* pNode);
