// Telling when what setup left running has gone idle, and closing it.
#include "host/left_programs.h"

#include "host/found_windows.h"
#include "host/process_job.h"

#include <algorithm>

namespace {

// More processor time than this between two looks (100 ns units, 20 ms)
// means a process is still working: a silent setup's helper copying files.
constexpr ULONGLONG kBusyCpuTime = 200000;

ULONGLONG ToUnits(const FILETIME& time) {
    return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The processor time the processes have used, and whether each waits for
// input (a process without windows has nothing to wait on and counts as
// waiting; its processor time tells whether it works).
bool WaitForInput(const std::vector<DWORD>& processes, ULONGLONG& cpuTime) {
    bool fWaiting = true;
    cpuTime = 0;
    for (DWORD dwProcess : processes) {
        HANDLE hProcess = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, dwProcess);
        if (!hProcess)
            continue;
        FILETIME created, exited, kernel, user;
        if (GetProcessTimes(hProcess, &created, &exited, &kernel, &user))
            cpuTime += ToUnits(kernel) + ToUnits(user);
        fWaiting = fWaiting && WaitForInputIdle(hProcess, 0) != WAIT_TIMEOUT;
        CloseHandle(hProcess);
    }
    return fWaiting;
}

// Processes of which each handle can wait; an id that cannot be opened has
// ended already.
std::vector<HANDLE> OpenToWait(const std::vector<DWORD>& processes) {
    std::vector<HANDLE> handles;
    for (DWORD dwProcess : processes)
        handles.push_back(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, dwProcess));
    return handles;
}

bool Running(HANDLE hProcess) {
    return hProcess && WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT;
}

} // namespace

bool LeftProgramsWatch::Idle(std::vector<DWORD> processes) {
    std::ranges::sort(processes);
    DWORD dwNow = GetTickCount();
    ULONGLONG cpuTime = 0;
    bool fWaiting = WaitForInput(processes, cpuTime);
    bool fQuiet = WaitForSingleObject(hSetup_, 0) == WAIT_OBJECT_0 && !processes.empty() &&
                  processes == watched_ && fWaiting && cpuTime - cpuTime_ <= kBusyCpuTime &&
                  VisibleDialogsOf(processes).empty();
    if (!fQuiet)
        dwIdleSince_ = dwNow;
    watched_ = std::move(processes);
    cpuTime_ = cpuTime;
    return dwNow - dwIdleSince_ >= kLeftIdleMs;
}

std::vector<ClosedProgram> CloseLikeAPerson(const std::vector<DWORD>& processes) {
    std::vector<std::string> images = ProcessImageNames(processes);
    std::vector<ClosedProgram> closed;
    for (size_t i = 0; i < processes.size(); ++i) {
        std::vector<HWND> windows = VisibleWindowsOf({processes[i]}, false);
        closed.push_back(
            {images[i], windows.empty() ? images[i] : WindowText(windows[0], 1000), false});
        for (HWND hwnd : windows)
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
    }
    std::vector<HANDLE> handles = OpenToWait(processes);
    DWORD dwAsked = GetTickCount();
    while (std::ranges::any_of(handles, Running) && GetTickCount() - dwAsked < kCloseBoundMs)
        Sleep(50);
    for (size_t i = 0; i < handles.size(); ++i) {
        if (Running(handles[i])) {
            TerminateProcess(handles[i], 1);
            WaitForSingleObject(handles[i], kCloseBoundMs);
            closed[i].fEnded = true;
        }
        if (handles[i])
            CloseHandle(handles[i]);
    }
    return closed;
}
