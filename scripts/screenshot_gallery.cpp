// Opens one of the library's dialogs with a typical set of undo actions and
// cautions and leaves it on screen, so that scripts/screenshots can capture
// it. Built by that script against the library's code and resources.
//   screenshot_gallery standalone|list|tree|cautions|confirm
//   screenshot_gallery setup   a stand-in setup program for the host's
//                              picture: it shows nothing and runs until killed
#include "actions/deaction.h"
#include "common/paths.h"
#include "dialog/dedlg.h"
#include "dialog/cautions.h"
#include "files/lists.h"
#include "resources/resource.h"
#include "common/library.h"
#include "session/exports.h"

#include <shlobj.h>

#include <cstring>

namespace {

void AddTypicalActions() {
    GetWindowsDirectoryA(WinDir, sizeof WinDir);
    AddBackslash(WinDir);
    GetSystemDirectoryA(SysDir, sizeof SysDir);
    AddBackslash(SysDir);
    char szWinIni[MAX_PATH], szAcmeIni[MAX_PATH], szAcmeDll[MAX_PATH];
    wsprintfA(szWinIni, "%ssystem.ini", WinDir);
    wsprintfA(szAcmeIni, "%sacme.ini", WinDir);
    wsprintfA(szAcmeDll, "%sacme32.dll", SysDir);
    AddAction(DEA_GROUP, 1, "Group \"%s\"", "Acme", nullptr, nullptr, "Acme", nullptr);
    AddAction(DEA_ICON, 2, "Icon \"%s\" in group \"Programs\"", "Acme Help", nullptr, nullptr,
              "Acme Help", nullptr);
    AddAction(DEA_RESTORE, 3, "Changes to \"%s\"", szWinIni, nullptr, nullptr, szWinIni, nullptr);
    AddAction(DEA_FOLDER, 4, "Folder \"%s\"", "C:\\Program Files\\Acme\\", nullptr, nullptr,
              "C:\\Program Files\\Acme\\", nullptr);
    AddAction(DEA_FOLDER, 4, "Folder \"%s\"", "C:\\Program Files\\Acme\\Data\\", nullptr, nullptr,
              "C:\\Program Files\\Acme\\Data\\", nullptr);
    AddAction(DEA_FILE, 5, "File \"%s\"", szAcmeIni, nullptr, nullptr, szAcmeIni, nullptr);
    AddAction(DEA_FILE, 5, "File \"%s\"", szAcmeDll, nullptr, nullptr, szAcmeDll, nullptr);
    AddAction(DEA_FILE, 6, "File \"%s\"", "C:\\Program Files\\Common Files\\AcmeShared.dll",
              nullptr, nullptr, "C:\\Program Files\\Common Files\\AcmeShared.dll", nullptr);
    AddAction(DEA_REGISTRY, 7, "Key Added %s", "HKEY_LOCAL_MACHINE\\Software\\Acme", nullptr,
              nullptr, "HKEY_LOCAL_MACHINE\\Software\\Acme", nullptr);
    AddCaution("File \"%s\" was deleted", "c:\\windows\\system32\\acme-gone.dll");
    AddCaution("File \"%s\" was altered", "c:\\windows\\system32\\acme-shared.dat");
}

HWND CreateOwner() {
    return CreateWindowA("STATIC", "Tarnel", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

void ChooseForm(const char* pszValue) {
    WritePrivateProfileStringA("Tarnel", "UninstallerTreeview", pszValue, "tarnel32.ini");
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "tarnel32.ini");
}

// Moves the list's caret to the restore action, so that the status line
// shows what that item will do.
DWORD WINAPI PointAtRestoreItem(void*) {
    for (int i = 0; i < 200; ++i) {
        HWND hDlg = FindWindowA("#32770", "Uninstall");
        if (HWND hList = hDlg ? GetDlgItem(hDlg, IDC_ITEM_LIST) : nullptr) {
            Sleep(300);
            SendMessageA(hList, LB_SETCARETINDEX, 2, FALSE);
            return 0;
        }
        Sleep(50);
    }
    return 0;
}

BOOL CALLBACK FindVisibleDialog(HWND hwnd, LPARAM lParam) {
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    char szClass[16] = "";
    if (dwProcess != GetCurrentProcessId() || !IsWindowVisible(hwnd) ||
        !GetClassNameA(hwnd, szClass, sizeof szClass) || std::strcmp(szClass, "#32770") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hwnd;
    return FALSE;
}

// Writes the file "ready" beside this program (the session moves the current
// folder): the script captures the screen then.
void AnnounceReady() {
    char szReady[MAX_PATH];
    GetModuleFileNameA(nullptr, szReady, MAX_PATH);
    std::strcpy(std::strrchr(szReady, '\\') + 1, "ready");
    CloseHandle(CreateFileA(szReady, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

bool fStandaloneShot;

// Announces the shot once its window is on screen and done: the standalone
// dialog only when its OK button is enabled, that is when the first snapshot
// has been taken, which takes long on a slow machine.
DWORD WINAPI AnnounceWhenReady(void*) {
    for (int i = 0; i < 1200; ++i, Sleep(50)) {
        HWND hDlg = nullptr;
        EnumWindows(FindVisibleDialog, reinterpret_cast<LPARAM>(&hDlg));
        if (!hDlg || (fStandaloneShot && !IsWindowEnabled(GetDlgItem(hDlg, IDOK))))
            continue;
        Sleep(800); // the list's caret move and the painting
        AnnounceReady();
        return 0;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* pszShot = argc > 1 ? argv[1] : "tree";
    if (std::strcmp(pszShot, "setup") == 0) {
        // The host has taken its snapshots and shows its wait once setup runs.
        Sleep(1500);
        AnnounceReady();
        Sleep(120000);
        return 0;
    }
    hinstLib = GetModuleHandleA(nullptr);
    SHGetMalloc(&pShellMalloc);
    hwndParent = CreateOwner();
    AddTypicalActions();
    fStandaloneShot = std::strcmp(pszShot, "standalone") == 0;
    CloseHandle(CreateThread(nullptr, 0, AnnounceWhenReady, nullptr, 0, nullptr));
    if (fStandaloneShot) {
        uninstall_standalone();
    } else if (std::strcmp(pszShot, "list") == 0) {
        ChooseForm("0");
        CloseHandle(CreateThread(nullptr, 0, PointAtRestoreItem, nullptr, 0, nullptr));
        show_deinstall_dialog(hwndParent);
    } else if (std::strcmp(pszShot, "tree") == 0) {
        ChooseForm("1");
        show_deinstall_dialog(hwndParent);
    } else if (std::strcmp(pszShot, "cautions") == 0) {
        ShowCautions(hwndParent);
    } else if (std::strcmp(pszShot, "confirm") == 0) {
        ConfirmCancel(hwndParent);
    }
    return 0;
}
