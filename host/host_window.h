// The host's main window: a status line for the library, a line that says
// what the host waits for, a busy indicator driven by the library's
// notifications, and a button with which the user says that setup is done.
#pragma once

#include <windows.h>

// Posted to the main window when the setup program and everything it
// started have ended, or when the user pressed the button.
constexpr UINT WM_HOST_SETUP_DONE = WM_APP + 1;
// Posted once the message loop runs: the session begins.
constexpr UINT WM_HOST_START = WM_APP + 2;
// Sent by the unattended user when it gives the run up.
constexpr UINT WM_HOST_GIVE_UP = WM_APP + 3;

struct HostWindowHandlers {
    void (*pfnStart)(HWND hwnd);
    void (*pfnSetupDone)(HWND hwnd);
    void (*pfnGiveUp)(HWND hwnd);
};

HWND CreateHostWindow(HINSTANCE hInstance, const HostWindowHandlers& handlers, int nCmdShow);
HWND HostStatusLine(HWND hwnd);
// Shows what the host is doing now ("Setup is running...").
void SetHostPhase(HWND hwnd, const char* pszText);
// Lets the user end the wait for setup (enabled only while setup runs).
void EnableSetupDoneButton(HWND hwnd, BOOL fEnable);
// True between the library's busy-begins and busy-ends notifications.
bool HostIsBusy();

// The help texts answered to the library's help requests.
const char* HelpTextFor(UINT uMsg);
