// Enumerating the visible dialogs and message boxes of a set of processes and
// reading their captions, texts and buttons.
#include "host/found_windows.h"

#include <algorithm>

namespace {

constexpr int kMessageBoxTextId = 0xFFFF;

struct ProcessWindows {
    std::vector<DWORD> processes;
    bool fDialogsOnly;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lParam) {
    auto* pFound = reinterpret_cast<ProcessWindows*>(lParam);
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    if (std::ranges::find(pFound->processes, dwProcess) != pFound->processes.end() &&
        IsWindowVisible(hwnd) && (!pFound->fDialogsOnly || IsDialogWindow(hwnd)))
        pFound->windows.push_back(hwnd);
    return TRUE;
}

} // namespace

std::string WindowText(HWND hwnd, DWORD dwWaitMs) {
    char szText[4096] = "";
    DWORD_PTR cchText = 0;
    if (dwWaitMs == INFINITE)
        GetWindowTextA(hwnd, szText, sizeof szText);
    else if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof szText, reinterpret_cast<LPARAM>(szText),
                                  SMTO_ABORTIFHUNG, dwWaitMs, &cchText))
        szText[0] = '\0';
    return szText;
}

std::string MessageBoxText(HWND hwnd) {
    char szText[4096] = "";
    GetDlgItemTextA(hwnd, kMessageBoxTextId, szText, sizeof szText);
    return szText;
}

bool IsDialogWindow(HWND hwnd) {
    char szClass[16] = "";
    return GetClassNameA(hwnd, szClass, sizeof szClass) && lstrcmpA(szClass, "#32770") == 0;
}

bool IsMessageBox(HWND hwnd) {
    return GetDlgItem(hwnd, kMessageBoxTextId) != nullptr;
}

std::vector<HWND> VisibleWindowsOf(std::vector<DWORD> processes, bool fDialogsOnly) {
    ProcessWindows found{std::move(processes), fDialogsOnly, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&found));
    return found.windows;
}

std::vector<HWND> VisibleDialogsOf(std::vector<DWORD> processes) {
    return VisibleWindowsOf(std::move(processes), true);
}

std::vector<HWND> VisibleDialogsOfThisProcess() {
    return VisibleDialogsOf({GetCurrentProcessId()});
}
