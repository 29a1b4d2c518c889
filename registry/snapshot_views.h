// The full snapshot's four roots read together: a root that is proven at
// run time to show the same keys as a part of another root is copied from
// that root's tree instead of read again, and the roots that are read run
// on threads of their own.
#pragma once

#include "registry/tree.h"

#include <windows.h>

// Fills the four roots of pSnapshot as a scan of each root in turn would:
// each root's status line is shown in table order, and a root whose reading
// failed is reported on the calling thread with iHandler, in table order.
void ScanRegistryRoots(REGTRE* pSnapshot, HWND hwndStatus, int iHandler);
