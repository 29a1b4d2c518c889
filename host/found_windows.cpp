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
    bool fWatched = pFound->processes.empty() ||
                    std::ranges::find(pFound->processes, dwProcess) != pFound->processes.end();
    if (fWatched && IsWindowVisible(hwnd) && (!pFound->fDialogsOnly || IsDialogWindow(hwnd)))
        pFound->windows.push_back(hwnd);
    return TRUE;
}

bool HasClass(HWND hwnd, const char* pszClass) {
    char szClass[16] = "";
    GetClassNameA(hwnd, szClass, sizeof szClass);
    return lstrcmpiA(szClass, pszClass) == 0;
}

struct ControlTexts {
    DWORD dwWaitMs;
    std::string texts;
};

BOOL CALLBACK CollectStaticText(HWND hwnd, LPARAM lParam) {
    auto* pFound = reinterpret_cast<ControlTexts*>(lParam);
    // A picture's text is the name of its resource, not words on the screen.
    LONG_PTR lType = GetWindowLongPtrA(hwnd, GWL_STYLE) & SS_TYPEMASK;
    bool fPicture = lType == SS_ICON || lType == SS_BITMAP || lType == SS_ENHMETAFILE;
    if (!HasClass(hwnd, "Static") || fPicture)
        return TRUE;
    std::string text = WindowText(hwnd, pFound->dwWaitMs);
    if (!text.empty())
        pFound->texts += (pFound->texts.empty() ? "" : "\n") + text;
    return TRUE;
}

BOOL CALLBACK CollectButtonLabel(HWND hwnd, LPARAM lParam) {
    auto* pFound = reinterpret_cast<ControlTexts*>(lParam);
    LONG_PTR lType = GetWindowLongPtrA(hwnd, GWL_STYLE) & BS_TYPEMASK;
    if (!HasClass(hwnd, "Button") || !IsWindowVisible(hwnd) ||
        (lType != BS_PUSHBUTTON && lType != BS_DEFPUSHBUTTON))
        return TRUE;
    std::string label = WindowText(hwnd, pFound->dwWaitMs);
    std::erase(label, '&');
    pFound->texts += (pFound->texts.empty() ? "" : ", ") + label;
    return TRUE;
}

} // namespace

std::string WindowText(HWND hwnd, DWORD dwWaitMs) {
    char szText[4096] = "";
    DWORD_PTR cchText = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof szText, reinterpret_cast<LPARAM>(szText),
                             SMTO_ABORTIFHUNG, dwWaitMs, &cchText))
        szText[0] = '\0';
    return szText;
}

std::string MessageBoxText(HWND hwnd) {
    char szText[4096] = "";
    GetDlgItemTextA(hwnd, kMessageBoxTextId, szText, sizeof szText);
    return szText;
}

bool WaitUntilWindowIdle(HWND hwnd, DWORD dwWaitMs) {
    DWORD_PTR dwIgnored = 0;
    return SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, dwWaitMs, &dwIgnored) != 0;
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

std::string DialogStaticTexts(HWND hDlg, DWORD dwWaitMs) {
    ControlTexts found{dwWaitMs, {}};
    EnumChildWindows(hDlg, CollectStaticText, reinterpret_cast<LPARAM>(&found));
    return found.texts;
}

std::string DialogButtonLabels(HWND hDlg, DWORD dwWaitMs) {
    ControlTexts found{dwWaitMs, {}};
    EnumChildWindows(hDlg, CollectButtonLabel, reinterpret_cast<LPARAM>(&found));
    return found.texts;
}

std::string DescribeWindowsOf(std::vector<DWORD> processes, DWORD dwWaitMs) {
    std::string lines;
    for (HWND hwnd : VisibleWindowsOf(std::move(processes), false)) {
        char szClass[64] = "";
        GetClassNameA(hwnd, szClass, sizeof szClass);
        std::string texts = DialogStaticTexts(hwnd, dwWaitMs);
        std::ranges::replace(texts, '\n', ' ');
        lines += "  \"" + WindowText(hwnd, dwWaitMs) + "\" (" + szClass + ", " +
                 (IsWindowEnabled(hwnd) ? "enabled" : "disabled") + "): " + texts +
                 "; buttons: " + DialogButtonLabels(hwnd, dwWaitMs) + "\n";
    }
    return lines.empty() ? "  (none)\n" : lines;
}
