// Placeholder dialog entries, filled by the dialog work.
#include "session/session.h"

int __cdecl show_deinstall_dialog(HWND) {
    return 1;
}
INT_PTR WINAPI caution_dlg_proc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}
