// Carries an exception out of a dialog procedure past the system's modal loop.
#include "session/guard.h"

namespace {
bool fDialogExceptionPending;
DWORD dwPendingDialogCode;
} // namespace

void KeepPendingDialogException(HWND hDlg, DWORD dwCode) {
    if (!fDialogExceptionPending) {
        fDialogExceptionPending = true;
        dwPendingDialogCode = dwCode;
    }
    EndDialog(hDlg, -1);
}

INT_PTR DialogBoxGuarded(HINSTANCE hinst, int idTemplate, HWND hwndOwner, DLGPROC pfnProc,
                         LPARAM lParam) {
    INT_PTR result =
        DialogBoxParamA(hinst, MAKEINTRESOURCEA(idTemplate), hwndOwner, pfnProc, lParam);
    if (fDialogExceptionPending) {
        fDialogExceptionPending = false;
        RaiseSessionException(dwPendingDialogCode);
    }
    return result;
}
