// What every benchmark prints: "NAME n=N seconds=T peak_mb=M [extra]".
#pragma once

#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <string>

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

// Removes a folder with everything below it; what cannot be removed stays.
inline void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((path + "\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    }
    RemoveDirectoryA(path.c_str());
}
