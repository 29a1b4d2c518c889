// Bounded waits for the monitor's records, and the threads of this process.
#include "monitor_wait.h"

#include "monitor/monitor.h"
#include "robot.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

namespace {
constexpr DWORD kPollMs = 20;
constexpr DWORD kQuietMs = 300;
} // namespace

bool WaitForHandedOver(DWORD dwTarget, DWORD dwTimeoutMs) {
    dwTimeoutMs = PacedMs(dwTimeoutMs);
    DWORD dwStart = GetTickCount();
    DWORD dwLastCount = MonitorRecordsHandedOver();
    DWORD dwLastChange = dwStart;
    for (;;) {
        DWORD dwNow = GetTickCount();
        DWORD dwCount = MonitorRecordsHandedOver();
        if (dwCount != dwLastCount) {
            dwLastCount = dwCount;
            dwLastChange = dwNow;
        }
        if (dwCount >= dwTarget && dwNow - dwLastChange >= kQuietMs)
            return true;
        if (dwNow - dwStart > dwTimeoutMs) {
            ADD_FAILURE() << "gave up after " << dwTimeoutMs / 1000.0 << " s waiting for "
                          << dwTarget << " records from the monitor; " << dwCount
                          << " came\nwindows open:\n"
                          << DescribeOpenWindows();
            return false;
        }
        Sleep(kPollMs);
    }
}

std::set<DWORD> OwnThreadIds() {
    std::set<DWORD> ids;
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL f = Thread32First(hSnapshot, &entry); f; f = Thread32Next(hSnapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids.insert(entry.th32ThreadID);
    CloseHandle(hSnapshot);
    return ids;
}
