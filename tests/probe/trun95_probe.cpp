// A second process for tests.
//   trun95_probe version          exit code = is_version_ok() of TRUN95.dll
//   trun95_probe running          exit code = already_running() of TRUN95.dll
//   trun95_probe hold-file PATH MS   keeps PATH open without sharing for MS ms
//   trun95_probe uninstall   asks as a program's own uninstaller does: a Yes/No
//                            box, then a page whose default button turns from
//                            "Uninstall" into "Close" once the work is done;
//                            exit code 0 when it was answered Yes and closed,
//                            2 when nobody answered within 20 s
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

typedef int (*PFNQUERY)(void);

int CallLibrary(const char* pszExport) {
    HMODULE hLibrary = LoadLibraryA("TRUN95.dll");
    if (!hLibrary)
        return 100;
    auto pfnQuery =
        reinterpret_cast<PFNQUERY>(reinterpret_cast<void*>(GetProcAddress(hLibrary, pszExport)));
    int result = pfnQuery ? pfnQuery() : 101;
    FreeLibrary(hLibrary);
    return result;
}

int HoldFile(const char* pszPath, DWORD dwMs) {
    HANDLE hFile =
        CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 1;
    Sleep(dwMs);
    CloseHandle(hFile);
    return 0;
}

constexpr char kUninstallCaption[] = "Acme Uninstall";
constexpr UINT_PTR kWorkTimer = 1;

// The uninstaller's page: the first press of the default button starts the
// work (the button is disabled meanwhile), the second one closes the page.
INT_PTR CALLBACK UninstallPageProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM) {
    HWND hButton = GetDlgItem(hDlg, IDOK);
    if (uMsg == WM_COMMAND && LOWORD(wParam) == IDOK) {
        if (GetWindowLongPtrA(hDlg, DWLP_USER)) {
            DestroyWindow(hDlg);
            PostQuitMessage(0);
            return TRUE;
        }
        EnableWindow(hButton, FALSE);
        SetTimer(hDlg, kWorkTimer, 300, nullptr);
        return TRUE;
    }
    if (uMsg == WM_TIMER) {
        KillTimer(hDlg, kWorkTimer);
        SetWindowLongPtrA(hDlg, DWLP_USER, 1);
        SetDlgItemTextA(hDlg, 100, "Acme has been removed.");
        SetWindowTextA(hButton, "&Close");
        EnableWindow(hButton, TRUE);
        return TRUE;
    }
    return FALSE;
}

void ShowUninstallPage() {
    HINSTANCE hInstance = GetModuleHandleA(nullptr);
    HWND hDlg = CreateWindowExA(0, "#32770", kUninstallCaption, WS_POPUP | WS_CAPTION, 100, 100,
                                300, 120, nullptr, nullptr, hInstance, nullptr);
    CreateWindowExA(0, "Static", "Remove Acme from your computer.", WS_CHILD | WS_VISIBLE, 10, 10,
                    280, 20, hDlg, reinterpret_cast<HMENU>(100), hInstance, nullptr);
    CreateWindowExA(0, "Button", "&Uninstall", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 190, 50,
                    90, 24, hDlg, reinterpret_cast<HMENU>(IDOK), hInstance, nullptr);
    SetWindowLongPtrA(hDlg, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(UninstallPageProc));
    SendMessageA(hDlg, DM_SETDEFID, IDOK, 0);
    ShowWindow(hDlg, SW_SHOW);
}

// An uninstaller nobody answers gives up, so that a test sees the fault
// instead of waiting for ever.
DWORD WINAPI GiveUpLater(void*) {
    Sleep(20000);
    ExitProcess(2);
}

int RunUninstaller() {
    CloseHandle(CreateThread(nullptr, 0, GiveUpLater, nullptr, 0, nullptr));
    if (MessageBoxA(nullptr, "Are you sure you want to remove Acme?", kUninstallCaption,
                    MB_YESNO) != IDYES)
        return 1;
    ShowUninstallPage();
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "version") == 0)
        return CallLibrary("is_version_ok");
    if (argc >= 2 && std::strcmp(argv[1], "running") == 0)
        return CallLibrary("already_running");
    if (argc >= 4 && std::strcmp(argv[1], "hold-file") == 0)
        return HoldFile(argv[2], static_cast<DWORD>(std::atoi(argv[3])));
    if (argc >= 2 && std::strcmp(argv[1], "uninstall") == 0)
        return RunUninstaller();
    return 2;
}
