#include "monitor_wait.h"

#include "monitor/monitor.h"

namespace {
constexpr DWORD kPollMs = 20;
constexpr DWORD kQuietMs = 300;
} // namespace

bool WaitForHandedOver(DWORD dwTarget, DWORD dwTimeoutMs) {
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
        if (dwNow - dwStart > dwTimeoutMs)
            return false;
        Sleep(kPollMs);
    }
}
