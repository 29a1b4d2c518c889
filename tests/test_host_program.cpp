// tarnel32.exe itself: its exit status for bad arguments and for a session
// abandoned while setup runs.
#include "support/dialog_script.h"
#include "support/test_host_window.h"
#include "support/prefix_files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

// A probe that holds a new file for the given time and then ends.
std::string HoldFileCommand(const char* pszFileName, int ms) {
    std::string heldFile = TempFile(pszFileName);
    std::ofstream(heldFile) << "held";
    return BuildPath("trun95_probe.exe") + " hold-file " + heldFile + " " + std::to_string(ms);
}

// Starts another process without waiting; the caller closes the handle.
HANDLE StartProcess(std::string commandLine) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

std::string Tarnel32(const std::string& arguments) {
    return BuildPath("tarnel32.exe") + " " + arguments;
}

TEST(HostProgram, BadArgumentsAMissingSetupAndAnUnusableReportNameEndWithStatusTwo) {
    for (const std::string& arguments :
         {std::string("--unattended=sometimes setup.exe"), std::string("--unattended=all"),
          std::string("--unattended=all C:\\no\\such\\setup.exe"),
          std::string("--unattended=all --report=C:\\no\\such\\folder\\r.txt cmd.exe /c exit"),
          "--unattended=all --report=C:\\" + std::string(600, 'r') + " cmd.exe /c exit"})
        EXPECT_EQ(RunProgram(Tarnel32(arguments)), 2u) << arguments.substr(0, 60);
}

TEST(HostProgram, ClosingTheWindowDuringSetupAbandonsTheSessionWithStatusFour) {
    HANDLE hProcess = StartProcess(Tarnel32(HoldFileCommand("trun95-setup-held.txt", 15000)));
    // The button is enabled once setup runs.
    HWND hwndHost = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            hwndHost = FindWindowA("Tarnel32Host", nullptr);
            return hwndHost && IsWindowEnabled(FindWindowExA(hwndHost, nullptr, "BUTTON", nullptr));
        },
        "the host's \"Setup is done\" button",
        120000)); // the first snapshot takes long on a busy machine
    EXPECT_NE(GlobalFindAtomA("Tarnel Uninstall Is Running"), 0);
    PostMessageA(hwndHost, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(hProcess, 60000), WAIT_OBJECT_0);
    DWORD dwStatus = 0;
    GetExitCodeProcess(hProcess, &dwStatus);
    CloseHandle(hProcess);
    EXPECT_EQ(dwStatus, 4u);
    EXPECT_EQ(GlobalFindAtomA("Tarnel Uninstall Is Running"), 0);
}

} // namespace
