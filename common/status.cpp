// The status line, message pumping and the busy state with its notifications
// to the host window.
#include "common/status.h"

#include "common/boxes.h"

#include "resources/resource.h"
#include "common/library.h"

namespace {
HCURSOR hcurBusy; // the loaded wait cursor while busy; doubles as the busy flag
}

void ShowStatus(HWND hwndStatus, const char* pszText) {
    if (!pszText)
        InternalError("Deinst", __LINE__);
    if (!hwndStatus)
        InternalError("Deinst", __LINE__);
    PumpMessages();
    SetWindowTextA(hwndStatus, pszText ? pszText : "");
    UpdateWindow(hwndStatus);
}

// Drains the calling thread's queue without waiting; a WM_QUIT ends it.
void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void PumpMessagesWhenDue() {
    constexpr DWORD dwPumpInterval = 15;
    static DWORD dwLastPump;
    DWORD dwNow = GetTickCount();
    if (dwNow - dwLastPump < dwPumpInterval)
        return;
    dwLastPump = dwNow;
    PumpMessages();
}

void BeginBusy() {
    if (!hcurBusy) {
        if (!hwndParent)
            InternalError("util", __LINE__);
        hcurBusy = LoadCursor(nullptr, IDC_WAIT);
        SendMessageA(hwndParent, WM_TRUN95_BUSY_BEGIN, 0, 0);
    }
    SetCursor(hcurBusy);
}

void EndBusy() {
    if (!hcurBusy)
        return;
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    hcurBusy = nullptr;
    SendMessageA(hwndParent, WM_TRUN95_BUSY_END, 0, 0);
}

bool IsBusy() {
    return hcurBusy != nullptr;
}
