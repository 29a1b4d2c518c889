// The uninstall dialog with many actions: opening the tree form and the list
// form (filling, sorting, check states), and carrying out every action.
#include "bench_util.h"

#include "actions/deaction.h"
#include "common/paths.h"
#include "files/lists.h"
#include "resources/resource.h"
#include "common/library.h"
#include "session/exports.h"

#include <shlobj.h>

#include <string>

namespace {

enum class Closing { Cancel, Uninstall };

struct Watch {
    Closing closing;
};

HWND FindVisibleDialog(bool fMessageBox) {
    for (HWND hwnd = FindWindowA("#32770", "Uninstall"); hwnd;
         hwnd = FindWindowExA(nullptr, hwnd, "#32770", "Uninstall")) {
        if (IsWindowVisible(hwnd) && (GetDlgItem(hwnd, 0xFFFF) != nullptr) == fMessageBox)
            return hwnd;
    }
    return nullptr;
}

// Closes the dialog as soon as it shows: Cancel and Yes, or Select All and
// Uninstall.
DWORD WINAPI CloseWhenShown(void* pContext) {
    auto* pWatch = static_cast<Watch*>(pContext);
    HWND hDlg = nullptr;
    while (!(hDlg = FindVisibleDialog(false)))
        Sleep(1);
    if (pWatch->closing == Closing::Uninstall)
        PostMessageA(hDlg, WM_COMMAND, IDC_SELECT_ALL, 0);
    PostMessageA(hDlg, WM_COMMAND, pWatch->closing == Closing::Cancel ? IDCANCEL : IDOK, 0);
    if (pWatch->closing == Closing::Cancel) {
        HWND hBox = nullptr;
        while (!(hBox = FindVisibleDialog(true)))
            Sleep(1);
        PostMessageA(hBox, WM_COMMAND, IDYES, 0);
    }
    return 0;
}

int UndoNothing(DEACTION*) {
    return 1;
}

// A big install: mostly files, some folders, registry keys and restores.
void AddActions(long n) {
    for (long i = 0; i < n; ++i) {
        std::string name = "C:\\Program Files\\Big\\module" + std::to_string(i * 7919 % n);
        WORD wKind = i % 10 < 6   ? DEA_FILE
                     : i % 10 < 8 ? DEA_FOLDER
                     : i % 10 < 9 ? DEA_REGISTRY
                                  : DEA_RESTORE;
        AddAction(wKind, 0, "Item \"%s\"", name.c_str(), nullptr, UndoNothing, name.c_str(),
                  nullptr);
    }
}

void ChooseForm(const char* pszValue) {
    WritePrivateProfileStringA("Tarnel", "UninstallerTreeview", pszValue, "tarnel32.ini");
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "tarnel32.ini");
}

void Measure(const char* pszName, const char* pszForm, Closing closing, long n) {
    AddActions(n);
    ChooseForm(pszForm);
    Watch watch{closing};
    HANDLE hThread = CreateThread(nullptr, 0, CloseWhenShown, &watch, 0, nullptr);
    Stopwatch stopwatch;
    show_deinstall_dialog(hwndParent);
    double seconds = stopwatch.Seconds();
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    PrintBenchLine(pszName, n, seconds);
    FreeActionList();
}

} // namespace

int main() {
    hinstLib = GetModuleHandleA(nullptr);
    SHGetMalloc(&pShellMalloc);
    hwndParent = CreateWindowA("STATIC", "host", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                               hinstLib, nullptr);
    GetWindowsDirectoryA(WinDir, sizeof WinDir);
    AddBackslash(WinDir);
    GetSystemDirectoryA(SysDir, sizeof SysDir);
    AddBackslash(SysDir);
    for (long n : {1000L, 10000L}) {
        Measure("dialog_tree_open", "1", Closing::Cancel, n);
        Measure("dialog_list_open", "0", Closing::Cancel, n);
        Measure("dialog_list_uninstall_all", "0", Closing::Uninstall, n);
    }
    char szIni[MAX_PATH + 16];
    wsprintfA(szIni, "%starnel32.ini", WinDir);
    DeleteFileA(szIni);
    return 0;
}
