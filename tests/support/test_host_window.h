// A host window as a real host program would pass it: it owns the library's
// message boxes, receives the busy and help notifications, and has a status
// line child.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class HostWindow {
  public:
    HostWindow();
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    HWND status() const { return hwndStatus_; }
    // Notifications 8024 to 8027 in the order they arrived.
    const std::vector<UINT>& notifications() const { return notifications_; }

  private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    HWND hwnd_ = nullptr;
    HWND hwndStatus_ = nullptr;
    std::vector<UINT> notifications_;
};

// The path of a helper program or file of the build (TRUN95_BIN), as a
// Windows path.
std::string BuildPath(const char* pszName);
// Runs a program of the build with arguments and returns its exit code.
DWORD RunProgram(const std::string& commandLine, DWORD dwTimeoutMs = 60000);
