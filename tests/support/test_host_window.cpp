// The test host window, and running the build's helper programs.
#include "test_host_window.h"

#include "resources/resource.h"

#include <cstdlib>
#include <string>

namespace {
constexpr char kHostClass[] = "Trun95TestHost";
}

HostWindow::HostWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kHostClass;
    RegisterClassA(&wc);
    hwnd_ = CreateWindowA(kHostClass, "TRUN95 test host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200,
                          nullptr, nullptr, wc.hInstance, this);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    hwndStatus_ = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 300, 20, hwnd_, nullptr,
                                wc.hInstance, nullptr);
}

HostWindow::~HostWindow() {
    DestroyWindow(hwnd_);
}

LRESULT CALLBACK HostWindow::WndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* pHost = reinterpret_cast<HostWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (pHost && uMsg >= WM_TRUN95_HELP_UNINSTALL && uMsg <= WM_TRUN95_BUSY_END) {
        pHost->notifications_.push_back(uMsg);
        return 0;
    }
    return DefWindowProcA(hwnd, uMsg, wParam, lParam);
}

std::string BuildPath(const char* pszName) {
    const char* pszBin = std::getenv("TRUN95_BIN");
    std::string folder;
    if (pszBin && *pszBin) {
        // A Linux path of the build tree; Wine maps it through drive Z:.
        folder = std::string("Z:") + pszBin;
        for (char& ch : folder)
            if (ch == '/')
                ch = '\\';
    } else {
        char szModule[MAX_PATH];
        GetModuleFileNameA(nullptr, szModule, sizeof szModule);
        folder = szModule;
        folder.resize(folder.rfind('\\'));
    }
    return folder + "\\" + pszName;
}

DWORD RunProgram(const std::string& commandLine, DWORD dwTimeoutMs) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, dwTimeoutMs);
    DWORD dwExit = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return dwExit;
}
