// The cautions dialog: the changes of setup that cannot be undone, in the
// order of the caution list.
#include "dialog/cautions.h"
#include "files/lists.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/library.h"

namespace {

void FillCautionList(HWND hDlg) {
    HWND hList = GetDlgItem(hDlg, IDC_CAUTION_LIST);
    HDC hdc = GetDC(hList);
    HGDIOBJ hOldFont =
        SelectObject(hdc, reinterpret_cast<HFONT>(SendMessageA(hList, WM_GETFONT, 0, 0)));
    int cxWidest = 0;
    for (NAMEITEM* pItem = Cautions; pItem; pItem = pItem->pNext) {
        SendMessageA(hList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(pItem->szName));
        SIZE size{};
        GetTextExtentPoint32A(hdc, pItem->szName, lstrlenA(pItem->szName), &size);
        if (size.cx > cxWidest)
            cxWidest = size.cx;
    }
    SelectObject(hdc, hOldFont);
    ReleaseDC(hList, hdc);
    // Long paths can be scrolled into view instead of being cut off.
    SendMessageA(hList, LB_SETHORIZONTALEXTENT, cxWidest + 4, 0);
}

void SendCautionsHelp() {
    SendMessageA(hwndParent, WM_TRUN95_HELP_CAUTIONS, 0, 0);
}

void HandleCautionMessage(HWND hDlg, UINT uMsg, WPARAM wParam) {
    switch (uMsg) {
    case WM_INITDIALOG:
        FillCautionList(hDlg);
        break;
    case WM_HELP:
        SendCautionsHelp();
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            EndDialog(hDlg, 1);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(hDlg, 0);
        else if (LOWORD(wParam) == IDC_CAUTION_HELP)
            SendCautionsHelp();
        break;
    default:
        break;
    }
}

} // namespace

// Exported: the host may run the cautions dialog itself.
extern "C" INT_PTR WINAPI caution_dlg_proc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM) {
    GuardedDialogBody(hDlg, [&]() -> INT_PTR {
        HandleCautionMessage(hDlg, uMsg, wParam);
        return 0;
    });
    return 0;
}

void ShowCautions(HWND hwndOwner) {
    DialogBoxGuarded(hinstLib, IDD_CAUTIONS, hwndOwner, caution_dlg_proc, 0);
}
