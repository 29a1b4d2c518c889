// The cost of monitoring for a setup program: the helper's burst of 20,000
// files in 500 new folders, timed without and with the monitor running, five
// times each in turn, and the records the monitor lost when it is stopped
// right after each burst. The medians and their ratio close the output.
#include "bench_util.h"

#include "files/recorder.h"
#include "monitor/monitor.h"
#include "common/library.h"
#include "tests/support/test_host_window.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr long kFolders = 500;
constexpr long kFiles = 20000;
constexpr int kRuns = 5;

DWORD RunBurst(const std::string& folder) {
    return RunProgram(BuildPath("trun95_fsworker.exe") + " burst " + folder + " " +
                          std::to_string(kFolders) + " " + std::to_string(kFiles),
                      INFINITE);
}

double TimedBurst(const std::string& folder, const char* pszName) {
    Stopwatch watch;
    DWORD dwExit = RunBurst(folder);
    double seconds = watch.Seconds();
    if (dwExit != 0)
        std::printf("%s helper failed with %lu\n", pszName, static_cast<unsigned long>(dwExit));
    return seconds;
}

double BurstOff(const std::string& folder) {
    double seconds = TimedBurst(folder, "burst-off");
    RemoveTree(folder);
    PrintBenchLine("burst-off", kFiles, seconds);
    return seconds;
}

// The monitor is stopped as soon as the burst has ended: everything the
// burst did must still arrive.
double BurstOn(const std::string& folder, long* pLost) {
    SetMonitorSink(RecordFileChange);
    StartMonitor();
    DWORD dwBefore = MonitorRecordsHandedOver();
    double seconds = TimedBurst(folder, "burst-on");
    Stopwatch stopWatch;
    StopMonitor();
    double stopSeconds = stopWatch.Seconds();
    const DWORD dwExpected = 1 + kFolders + kFiles;
    DWORD dwHandedOver = MonitorRecordsHandedOver() - dwBefore;
    long lost = dwHandedOver >= dwExpected ? 0 : static_cast<long>(dwExpected - dwHandedOver);
    *pLost += lost;
    FreeRecordedChanges();
    RemoveTree(folder);
    char szExtra[96];
    std::snprintf(szExtra, sizeof szExtra, "lost=%ld stop_seconds=%.3f missed_drives=%lu", lost,
                  stopSeconds, static_cast<unsigned long>(TakeMonitorMissedDrives()));
    PrintBenchLine("burst-on", kFiles, seconds, szExtra);
    return seconds;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main() {
    hinstLib = GetModuleHandleA(nullptr);
    std::string base = "C:\\trun95-bench-monitor-" + std::to_string(GetCurrentProcessId());
    std::vector<double> off, on;
    long lost = 0;
    for (int i = 0; i < kRuns; ++i) {
        off.push_back(BurstOff(base + "-off"));
        on.push_back(BurstOn(base + "-on", &lost));
    }
    double medianOff = Median(off), medianOn = Median(on);
    PrintBenchLine("burst-off-median", kFiles, medianOff);
    char szExtra[64];
    std::snprintf(szExtra, sizeof szExtra, "ratio=%.2f lost=%ld", medianOn / medianOff, lost);
    PrintBenchLine("burst-on-median", kFiles, medianOn, szExtra);
    return 0;
}
