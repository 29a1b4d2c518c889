// Deleting a registry key with everything below it.
#pragma once

#include "registry/tree.h"

#include <windows.h>

#include <string>

LONG RegDeleteKeyRecursive(HKEY hParent, const char* pszSubkey);
// The same, sparing the keys below that the snapshot node pNode (when
// given) records as unreadable.
LONG DeleteRegistryTree(HKEY hParent, const char* pszSubkey, const RTREE* pNode);
// A live key path as the comparison shows it: the root's display name, then
// the path below the root's start path.
std::string ShownRegistryPath(HKEY hRoot, const std::string& path);
