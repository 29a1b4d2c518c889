// The host's main window: its status lines, busy indicator and the button that
// says setup is done.
#include "host/host_window.h"

#include "host/progress.h"
#include "resources/resource.h"

namespace {

constexpr char kHostClass[] = "Tarnel32Host";
constexpr char kHostTitle[] = "Tarnel32 Install Monitor";
constexpr char kHelpTitle[] = "Tarnel32 Help";
constexpr int kStatusId = 100;
constexpr int kPhaseId = 101;
constexpr int kBusyId = 102;
constexpr int kSetupDoneId = 103;
constexpr UINT_PTR kBusyTimer = 1;

HostWindowHandlers g_handlers;
WNDPROC g_pfnStaticProc;
bool g_fBusy;
int g_iBusyFrame;

HWND CreateChild(HWND hwndParent, const char* pszClass, const char* pszText, DWORD dwStyle, int x,
                 int y, int cx, int cy, int id) {
    HWND hwnd = CreateWindowA(pszClass, pszText, WS_CHILD | WS_VISIBLE | dwStyle, x, y, cx, cy,
                              hwndParent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              GetModuleHandleA(nullptr), nullptr);
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    return hwnd;
}

// The library's status line also goes to the progress lines, each new text once.
LRESULT CALLBACK StatusLineProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_SETTEXT && lParam) {
        const char* pszText = reinterpret_cast<const char*>(lParam);
        char szOld[512] = "";
        GetWindowTextA(hwnd, szOld, sizeof szOld);
        if (lstrcmpA(szOld, pszText) != 0)
            ShowProgress(pszText);
    }
    return CallWindowProcA(g_pfnStaticProc, hwnd, uMsg, wParam, lParam);
}

void CreateControls(HWND hwnd) {
    CreateChild(hwnd, "STATIC", "Preparing...", 0, 12, 12, 396, 18, kPhaseId);
    HWND hwndStatus = CreateChild(hwnd, "STATIC", "", SS_SUNKEN, 12, 40, 396, 20, kStatusId);
    g_pfnStaticProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwndStatus, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusLineProc)));
    CreateChild(hwnd, "STATIC", "", 0, 12, 70, 200, 18, kBusyId);
    // Created disabled: it comes alive only once setup runs, never for a moment before.
    CreateChild(hwnd, "BUTTON", "Setup is &done", BS_PUSHBUTTON | WS_DISABLED, 288, 66, 120, 26,
                kSetupDoneId);
}

// The busy indicator: the wait cursor and a moving row of dots.
void SetBusy(HWND hwnd, bool fBusy) {
    g_fBusy = fBusy;
    g_iBusyFrame = 0;
    if (fBusy)
        SetTimer(hwnd, kBusyTimer, 250, nullptr);
    else
        KillTimer(hwnd, kBusyTimer);
    SetDlgItemTextA(hwnd, kBusyId, fBusy ? "Working" : "");
    SetCursor(LoadCursor(nullptr, fBusy ? IDC_WAIT : IDC_ARROW));
}

void AdvanceBusyIndicator(HWND hwnd) {
    static const char* const apszFrames[] = {"Working", "Working.", "Working..", "Working..."};
    g_iBusyFrame = (g_iBusyFrame + 1) % 4;
    SetDlgItemTextA(hwnd, kBusyId, apszFrames[g_iBusyFrame]);
}

void ShowHelp(HWND hwnd, UINT uMsg) {
    MessageBoxA(GetLastActivePopup(hwnd), HelpTextFor(uMsg), kHelpTitle,
                MB_OK | MB_ICONINFORMATION);
}

LRESULT HandleCommand(HWND hwnd, WPARAM wParam) {
    if (LOWORD(wParam) == kSetupDoneId) {
        EnableSetupDoneButton(hwnd, FALSE);
        PostMessageA(hwnd, WM_HOST_SETUP_DONE, 0, 0);
    }
    return 0;
}

LRESULT CALLBACK HostWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
    case WM_CREATE:
        CreateControls(hwnd);
        return 0;
    case WM_HOST_START:
        g_handlers.pfnStart(hwnd);
        return 0;
    case WM_HOST_SETUP_DONE:
        g_handlers.pfnSetupDone(hwnd);
        return 0;
    case WM_HOST_GIVE_UP:
        g_handlers.pfnGiveUp(hwnd);
        return 0;
    case WM_TRUN95_BUSY_BEGIN:
    case WM_TRUN95_BUSY_END:
        SetBusy(hwnd, uMsg == WM_TRUN95_BUSY_BEGIN);
        return 0;
    case WM_TRUN95_HELP_UNINSTALL:
    case WM_TRUN95_HELP_CAUTIONS:
        ShowHelp(hwnd, uMsg);
        return 0;
    case WM_TIMER:
        AdvanceBusyIndicator(hwnd);
        return 0;
    case WM_SETCURSOR:
        if (g_fBusy) {
            SetCursor(LoadCursor(nullptr, IDC_WAIT));
            return TRUE;
        }
        break;
    case WM_COMMAND:
        return HandleCommand(hwnd, wParam);
    case WM_CLOSE:
        // Closing in the middle of a session would leave it half done.
        if (g_fBusy)
            return 0;
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, uMsg, wParam, lParam);
}

} // namespace

HWND CreateHostWindow(HINSTANCE hInstance, const HostWindowHandlers& handlers, int nCmdShow) {
    g_handlers = handlers;
    WNDCLASSA wc{};
    wc.lpfnWndProc = HostWndProc;
    wc.hInstance = hInstance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kHostClass;
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA(
        kHostClass, kHostTitle, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
        CW_USEDEFAULT, CW_USEDEFAULT, 430, 140, nullptr, nullptr, hInstance, nullptr);
    if (hwnd) {
        ShowWindow(hwnd, nCmdShow);
        UpdateWindow(hwnd);
    }
    return hwnd;
}

HWND HostStatusLine(HWND hwnd) {
    return GetDlgItem(hwnd, kStatusId);
}

void SetHostPhase(HWND hwnd, const char* pszText) {
    SetDlgItemTextA(hwnd, kPhaseId, pszText);
    ShowProgress(pszText);
}

void EnableSetupDoneButton(HWND hwnd, BOOL fEnable) {
    EnableWindow(GetDlgItem(hwnd, kSetupDoneId), fEnable);
}

bool HostIsBusy() {
    return g_fBusy;
}

const char* HelpTextFor(UINT uMsg) {
    if (uMsg == WM_TRUN95_HELP_CAUTIONS)
        return "These changes were made by setup but cannot be undone: files that setup "
               "replaced or deleted without a backup copy. They rarely get in the way of an "
               "uninstall. Save the report to keep a list of them.";
    return "Each checked item is one change that setup made: a folder, file, program group, "
           "icon or registry change. Checked items are undone when you press Uninstall; "
           "unchecked ones are left as they are. Report... saves the list and the cautions "
           "to a text file. Cancel ends without undoing anything.";
}
