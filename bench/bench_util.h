// What every benchmark prints: "NAME n=N seconds=T peak_mb=M [extra]".
#pragma once

#include <windows.h>

#include <psapi.h>

#include <cstdio>

// Wall-clock stopwatch.
class Stopwatch {
  public:
    Stopwatch() { QueryPerformanceCounter(&start_); }
    double Seconds() const {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return double(now.QuadPart - start_.QuadPart) / double(frequency.QuadPart);
    }

  private:
    LARGE_INTEGER start_;
};

// Peak working set of this process so far, in MiB.
inline double PeakMegabytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return double(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

inline void PrintBenchLine(const char* pszName, long n, double seconds, const char* pszExtra = "") {
    std::printf("%s n=%ld seconds=%.3f peak_mb=%.0f%s%s\n", pszName, n, seconds, PeakMegabytes(),
                *pszExtra ? " " : "", pszExtra);
    std::fflush(stdout);
}
