// The standalone form of a session: the library's own small dialog, in which
// the dialog is the host window and its static control the status line.
#include "common/library.h"
#include "session/exports.h"

#include "common/strings.h"
#include "common/boxes.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/internal_error.h"

namespace {

constexpr UINT WM_STANDALONE_START = WM_USER + 1000; // 2024

void EnableStandaloneControls(HWND hDlg, BOOL fEnable) {
    static const int aidControls[] = {IDOK, IDCANCEL, IDC_STANDALONE_ABOUT, IDC_STANDALONE_PROMPT};
    for (int id : aidControls)
        EnableWindow(GetDlgItem(hDlg, id), fEnable);
}

INT_PTR HandleStandaloneMessage(HWND hDlg, UINT uMsg, WPARAM wParam) {
    switch (uMsg) {
    case WM_INITDIALOG:
        EnableStandaloneControls(hDlg, FALSE);
        PostMessageA(hDlg, WM_STANDALONE_START, 0, 0);
        return TRUE;
    case WM_STANDALONE_START:
        pre_setup_save(hDlg, GetDlgItem(hDlg, IDC_STANDALONE_STATUS));
        EnableStandaloneControls(hDlg, TRUE);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EnableStandaloneControls(hDlg, FALSE);
            post_setup_uninstall(hDlg, GetDlgItem(hDlg, IDC_STANDALONE_STATUS));
            EndDialog(hDlg, 1);
            break;
        case IDCANCEL:
            post_setup_cleanup();
            EndDialog(hDlg, 1);
            break;
        case IDC_STANDALONE_ABOUT:
            deinstal_about(hDlg);
            break;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK StandaloneDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM) {
    return GuardedDialogBody(hDlg, [&] { return HandleStandaloneMessage(hDlg, uMsg, wParam); });
}

void RunStandalone() {
    if (!is_version_ok()) {
        ShowLibraryBox(GetTopWindow(nullptr), GetResString(IDS_NOT_SUPPORTED), MB_OK);
        return;
    }
    if (already_running()) {
        ShowLibraryBox(GetTopWindow(nullptr), GetResString(IDS_ALREADY_RUNNING), MB_OK);
        return;
    }
    // The current folder is put back afterwards only when it could be read
    // whole.
    char szSavedFolder[512];
    DWORD cchSaved = GetCurrentDirectoryA(sizeof szSavedFolder, szSavedFolder);
    bool fSaved = cchSaved > 0 && cchSaved < sizeof szSavedFolder;
    SetCurrentDirectoryA("c:\\");
    DialogBoxGuarded(hinstLib, IDD_STANDALONE, nullptr, StandaloneDialogProc, 0);
    if (fSaved)
        SetCurrentDirectoryA(szSavedFolder);
}

} // namespace

extern "C" void uninstall_standalone(void) {
    if (!Guarded([] { RunStandalone(); })) {
        // No guard encloses this one: a "No" simply ends the call.
        Guarded([] { ReportInternalException("Deinst", 5, __LINE__); });
    }
}
