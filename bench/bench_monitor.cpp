// The cost of monitoring for a setup program: the helper's burst of 20,000
// files in 500 new folders, timed without and with the monitor running, and
// the records the monitor lost.
#include "bench_util.h"

#include "files/recorder.h"
#include "monitor/monitor.h"
#include "session/session.h"
#include "tests/support/host_window.h"

#include <string>

namespace {

constexpr long kFolders = 500;
constexpr long kFiles = 20000;
constexpr DWORD kQuietMs = 300;
constexpr DWORD kCatchUpLimitMs = 300000;

DWORD RunBurst(const std::string& folder) {
    return RunProgram(BuildPath("trun95_fsworker.exe") + " burst " + folder + " " +
                          std::to_string(kFolders) + " " + std::to_string(kFiles),
                      INFINITE);
}

// Waits until the monitor has handed over dwTarget records or stays quiet.
void WaitForCatchUp(DWORD dwTarget) {
    DWORD dwStart = GetTickCount();
    DWORD dwLast = MonitorRecordsHandedOver();
    DWORD dwLastChange = dwStart;
    for (;;) {
        DWORD dwNow = GetTickCount();
        DWORD dwCount = MonitorRecordsHandedOver();
        if (dwCount != dwLast) {
            dwLast = dwCount;
            dwLastChange = dwNow;
        }
        if ((dwCount >= dwTarget && dwNow - dwLastChange >= kQuietMs) ||
            dwNow - dwLastChange > kCatchUpLimitMs)
            return;
        Sleep(20);
    }
}

} // namespace

int main() {
    hinstLib = GetModuleHandleA(nullptr);
    std::string base = "C:\\trun95-bench-monitor-" + std::to_string(GetCurrentProcessId());

    Stopwatch offWatch;
    DWORD dwOffExit = RunBurst(base + "-off");
    double offSeconds = offWatch.Seconds();
    RemoveTree(base + "-off");
    if (dwOffExit != 0)
        std::printf("burst-off helper failed with %lu\n", static_cast<unsigned long>(dwOffExit));
    PrintBenchLine("burst-off", kFiles, offSeconds);

    StartMonitor();
    DWORD dwBefore = MonitorRecordsHandedOver();
    Stopwatch onWatch;
    DWORD dwOnExit = RunBurst(base + "-on");
    double onSeconds = onWatch.Seconds();
    const DWORD dwExpected = 1 + kFolders + kFiles;
    WaitForCatchUp(dwBefore + dwExpected);
    StopMonitor();
    DWORD dwHandedOver = MonitorRecordsHandedOver() - dwBefore;
    long lost = dwHandedOver >= dwExpected ? 0 : static_cast<long>(dwExpected - dwHandedOver);
    FreeRecordedChanges();
    RemoveTree(base + "-on");
    if (dwOnExit != 0)
        std::printf("burst-on helper failed with %lu\n", static_cast<unsigned long>(dwOnExit));
    std::string extra = "lost=" + std::to_string(lost);
    PrintBenchLine("burst-on", kFiles, onSeconds, extra.c_str());
    return 0;
}
