// The library's ten exported entry points, as the host calls them. Their
// names, ordinals and calling conventions are fixed by
// resources/exports-*.def.
#pragma once

#include <windows.h>

extern "C" {
int already_running(void);
int WINAPI deinstal_about(HWND hwndOwner);
int is_version_ok(void);
void post_setup_cleanup(void);
int WINAPI post_setup_uninstall(HWND hwndParentArg, HWND hwndStatus);
BOOL WINAPI pre_setup_save(HWND hwndParentArg, HWND hwndStatus);
void WINAPI timer_proc(HWND hwnd, UINT uMsg, UINT_PTR idTimer, DWORD dwTime);
void uninstall_standalone(void);
INT_PTR WINAPI caution_dlg_proc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
int __cdecl show_deinstall_dialog(HWND hwndOwner);
}
