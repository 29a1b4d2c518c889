// Carries an exception out of a dialog procedure past the system's modal loop.
// Each dialog run by DialogBoxGuarded has a frame; an exception is kept in the
// frame of the dialog whose procedure it left and raised once that dialog is
// gone, never in another one.
#include "common/guard.h"

#include "common/state_reset.h"

struct DialogFrame {
    DLGPROC pfnProc;
    HWND hDlg; // known once a procedure of the dialog has failed
    bool fPending;
    DWORD dwCode;
    DialogFrame* pOuter;
};

namespace {

DialogFrame* pInnermostFrame;

// The frame of a dialog: its window when known, else the dialog procedure
// the window runs.
DialogFrame* FrameOfDialog(HWND hDlg) {
    auto pfnProc = reinterpret_cast<DLGPROC>(GetWindowLongPtrA(hDlg, DWLP_DLGPROC));
    for (DialogFrame* pFrame = pInnermostFrame; pFrame; pFrame = pFrame->pOuter) {
        if (pFrame->hDlg == hDlg)
            return pFrame;
        if (!pFrame->hDlg && pFrame->pfnProc == pfnProc) {
            pFrame->hDlg = hDlg;
            return pFrame;
        }
    }
    return nullptr;
}

// A fault's guard forgets the dialogs its stretch was running; a new session
// keeps the ones the host runs.
const bool kDialogFramesReset =
    RegisterStateReset({[] { return StateValue{reinterpret_cast<uintptr_t>(pInnermostFrame)}; },
                        [](StateValue mark) {
                            pInnermostFrame =
                                reinterpret_cast<DialogFrame*>(static_cast<uintptr_t>(mark));
                        },
                        false});

} // namespace

// A dialog that the host runs with an exported procedure has no frame: its
// exception ends it and goes no further.
void KeepPendingDialogException(HWND hDlg, DWORD dwCode) {
    DialogFrame* pFrame = FrameOfDialog(hDlg);
    if (pFrame && !pFrame->fPending) {
        pFrame->fPending = true;
        pFrame->dwCode = dwCode;
    }
    EndDialog(hDlg, -1);
}

INT_PTR DialogBoxGuarded(HINSTANCE hinst, int idTemplate, HWND hwndOwner, DLGPROC pfnProc,
                         LPARAM lParam) {
    DialogFrame frame{pfnProc, nullptr, false, 0, pInnermostFrame};
    pInnermostFrame = &frame;
    INT_PTR result =
        DialogBoxParamA(hinst, MAKEINTRESOURCEA(idTemplate), hwndOwner, pfnProc, lParam);
    pInnermostFrame = frame.pOuter;
    if (frame.fPending)
        RaiseSessionException(frame.dwCode);
    return result;
}
