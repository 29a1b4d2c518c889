// The library's own identity, used by every floor: its module instance (for
// its resources and its folder), the title of its boxes, the host window
// that owns them and the shell's allocator.
#pragma once

#include <windows.h>
#include <objidl.h>

// Title of the library's message boxes unless a box names another.
inline constexpr char kLibraryTitle[] = "Tarnel Uninstaller";

extern HINSTANCE hinstLib;
// The host's window, given by the export that starts a session.
extern HWND hwndParent;
// The shell's allocator, taken when a session opens (null before): shell
// item lists and tree nodes come from it.
extern IMalloc* pShellMalloc;
