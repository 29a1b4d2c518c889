// Message boxes with the library's title, the internal-error reports, and
// placing a dialog over its parent.
#include "common/boxes.h"

#include "common/strings.h"
#include "common/status.h"

#include "resources/resource.h"
#include "common/guard.h"
#include "common/library.h"

#include <cstdio>

namespace {

// Shows a report box. Without a recorded host window the box has no owner;
// the absence itself is not reported again, so a report never recurses.
int ShowReportBox(const char* pszText, UINT uFlags) {
    EndBusy();
    return ShowLibraryBox(HostBoxOwner(), pszText, uFlags);
}

} // namespace

HWND GetOwnerWindow(HWND hwnd) {
    // A host window that has gone away owns nothing; the box then has no owner.
    if (!IsWindow(hwnd))
        return nullptr;
    HWND hwndTop = hwnd;
    while (HWND hwndUp = GetParent(hwndTop))
        hwndTop = hwndUp;
    return GetLastActivePopup(hwndTop);
}

HWND HostBoxOwner() {
    return GetOwnerWindow(hwndParent);
}

int ShowLibraryBox(HWND hwndOwner, const char* pszText, UINT uFlags, const char* pszTitle) {
    return MessageBoxA(hwndOwner, pszText, pszTitle ? pszTitle : kLibraryTitle, uFlags);
}

int UninstMessageBox(const char* pszText, UINT uFlags) {
    EndBusy();
    if (!pszText)
        InternalError("util", __LINE__);
    if (!hwndParent)
        InternalError("util", __LINE__);
    return ShowReportBox(pszText ? pszText : "", uFlags);
}

int MessageBoxFmt(const char* pszFormat, const char* pszArg) {
    char szText[1100];
    wsprintfA(szText, pszFormat ? pszFormat : "", pszArg ? pszArg : "");
    return UninstMessageBox(szText, MB_OK);
}

void FatalOutOfMemory() {
    ShowReportBox(GetResString(IDS_OUT_OF_MEMORY), MB_ICONHAND);
    RaiseSessionException(EXC_OUT_OF_MEMORY);
}

void InternalError(const char* pszModule, int iLine) {
    char szText[128];
    std::snprintf(szText, sizeof szText, GetResString(IDS_INTERNAL_ERROR), pszModule, iLine);
    ShowReportBox(szText, MB_ICONHAND);
    PostQuitMessage(1);
}

bool TextGiven(const char* pszText, const char* pszModule, int iLine) {
    if (pszText && *pszText)
        return true;
    InternalError(pszModule, iLine);
    return false;
}

void InternalErrorMsg(const char* pszMessage, const char* pszModule, int iLine) {
    char szText[128];
    std::snprintf(szText, sizeof szText, GetResString(IDS_INTERNAL_ERROR_MSG),
                  pszMessage ? pszMessage : "", pszModule, iLine);
    ShowReportBox(szText, MB_ICONHAND);
    RaiseSessionException(EXC_INTERNAL);
}

void CenterWindow(HWND hwnd) {
    if (!hwnd) {
        InternalError("util", __LINE__);
        return;
    }
    int cxScreen = GetSystemMetrics(SM_CXSCREEN);
    int cyScreen = GetSystemMetrics(SM_CYSCREEN);
    RECT rcWindow, rcParent;
    GetWindowRect(hwnd, &rcWindow);
    HWND hwndUp = GetParent(hwnd);
    if (!hwndUp || !GetWindowRect(hwndUp, &rcParent))
        SetRect(&rcParent, 0, 0, cxScreen, cyScreen);
    int w = rcWindow.right - rcWindow.left;
    int h = rcWindow.bottom - rcWindow.top;
    int x = rcParent.left + (rcParent.right - w - rcParent.left) / 2;
    int y = rcParent.top + (rcParent.bottom - rcParent.top - h) / 2;
    if (x + w > cxScreen)
        x = cxScreen - w;
    if (y > cyScreen - h)
        y = cyScreen - h;
    if (x < 0)
        x = 0;
    if (y < 0)
        y = 0;
    MoveWindow(hwnd, x, y, w, h, TRUE);
}
