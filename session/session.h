// The library's exported entry points and the session globals that live from
// pre_setup_save to post_setup_cleanup.
#pragma once

#include <windows.h>
#include <objidl.h>

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

// The machine-wide mark of a running session.
inline constexpr char kRunningAtomName[] = "Tarnel Uninstall Is Running";
// Title of the library's message boxes unless a box names another.
inline constexpr char kLibraryTitle[] = "Tarnel Uninstaller";

extern HINSTANCE hinstLib;
extern HWND hwndParent;
extern WORD fInSession;
extern ATOM atomRunning;
extern IMalloc* pShellMalloc;

// A session's state from its first moment, shared by the first snapshot and
// the install log: the flags, the shell's allocator, the running atom and the
// registry names. False, after telling the user, without the allocator.
bool OpenSessionState();

// The steps after setup, shared by the offer and the install log: compare
// and build the actions (offering the setup's own uninstaller first when
// fOfferOwn; false when the user then stopped), and put back afterwards what
// the session changed for its own work.
bool BuildUndoActions(HWND hwndStatus, bool fOfferOwn);
void EndPostSetup();
