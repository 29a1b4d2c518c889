// Carrying out registry actions: keys deleted or put back as they were, and
// the shell's unload setting set for the session and put back.
#pragma once

#include "registry/tree.h"

#include <windows.h>

#include <string>

struct DEACTION;

int DoRegistryAction(DEACTION* pact);
int DeleteRegistryKeyOfNode(RTREE* pNode);
LONG RestoreRegistryKey(RTREE* pNode);
// The live key of a node: its root's start path and the names down to it.
std::string RegistryKeyPath(const RTREE* pNode);
int SetExplorerUnload(int fSet);
