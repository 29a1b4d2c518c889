// The list form of the uninstall dialog.
#pragma once

#include <windows.h>

INT_PTR CALLBACK ListDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
