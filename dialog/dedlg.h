// The uninstall selection dialog (list and tree forms), the report and the
// cautions dialog.
#pragma once

#include <windows.h>

int CarryOutActions(HWND hDlg);
void WriteReport(HWND hwndOwner);
