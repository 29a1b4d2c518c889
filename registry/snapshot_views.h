// The full snapshot's four roots: a root that is proven at run time to show
// the same keys as a part of another root is copied from that root's tree
// instead of being read again.
#pragma once

#include "registry/tree.h"

#include <windows.h>

// Fills the four roots of pSnapshot as a scan of each root in turn would:
// the same keys, values and roots. The roots that are read are read first,
// in table order, then the views; a root whose reading fails is reported
// with iHandler as it is read.
void ScanRegistryRoots(REGTRE* pSnapshot, HWND hwndStatus, int iHandler);
