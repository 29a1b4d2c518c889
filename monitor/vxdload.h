// Dynamic loading of the monitoring driver as the Windows 95 VxD loader does
// it, for a kernel that has no VxD loader of its own. The calls have the
// shapes of the kernel calls they stand for.
//
// - Opening "\\.\NAME.VXD" (or "\\.\FOLDER\NAME.VXD") with the delete-on-close
//   flag loads module NAME.VXD from the current folder or a folder of PATH
//   (or from FOLDER) and calls its DeviceIoControl export with DIOC_OPEN.
// - Opening "\\.\NAME" while a driver NAME.VXD is loaded in some process of
//   the machine gives a probe handle. It reaches no driver: its control
//   calls do nothing, so stopping through it leaves the owner alone. Without
//   such a driver the open fails with ERROR_FILE_NOT_FOUND, unless NAME is
//   one of the kernel's own devices.
// - Control calls on a loader handle call the module's export; closing a
//   handle sends DIOC_CLOSEHANDLE, and closing the last one unloads it.
// Other paths and handles go to the kernel unchanged.
#pragma once

#include <windows.h>

#include "monitor/protocol.h"

// The form in which a driver module exports its control entry.
typedef BOOL(WINAPI* PFNDRIVERCONTROL)(DWORD dwCode, void* pIn, DWORD cbIn, void* pOut, DWORD cbOut,
                                       DWORD* pcbReturned, OVERLAPPED* pOverlapped);
typedef HANDLE(WINAPI* PFNOPENVXDHANDLE)(HANDLE hEvent);

HANDLE VxdCreateFile(const char* pszPath, DWORD dwAccess, DWORD dwShare,
                     SECURITY_ATTRIBUTES* pSecurity, DWORD dwDisposition, DWORD dwFlags,
                     HANDLE hTemplate);
BOOL VxdDeviceIoControl(HANDLE hDevice, DWORD dwCode, void* pIn, DWORD cbIn, void* pOut,
                        DWORD cbOut, DWORD* pcbReturned, OVERLAPPED* pOverlapped);
BOOL VxdCloseHandle(HANDLE hDevice);

// GetProcAddress, except that "OpenVxDHandle" asked of a kernel that lacks
// it gives the loader's own, which hands the driver the event handle itself
// (the driver runs in the caller's process).
FARPROC VxdGetProcAddress(HMODULE hModule, const char* pszName);
