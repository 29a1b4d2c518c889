// The library's instance, host window and shell allocator, set by its entry
// points.
#include "common/library.h"

HINSTANCE hinstLib;
HWND hwndParent;
IMalloc* pShellMalloc;
