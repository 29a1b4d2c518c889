// The host runs inside a job object of its own, so that every process that
// the setup program or a program's own uninstaller starts is counted, also
// after the process that started it has ended.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class ProcessJob {
  public:
    ProcessJob() = default;
    ~ProcessJob();
    ProcessJob(const ProcessJob&) = delete;
    ProcessJob& operator=(const ProcessJob&) = delete;

    // Puts this process into a new job; its children inherit it.
    bool Enter();
    // The processes of the job besides this one and Wine's own background
    // services: the setup program, or a program's own uninstaller, and
    // whatever they started.
    std::vector<DWORD> OtherProcessIds() const;
    bool HasOtherProcesses() const { return !OtherProcessIds().empty(); }
    // Ends those processes, for a run that is given up.
    void EndOtherProcesses() const;

  private:
    HANDLE hJob_ = nullptr;
};

// Wine's background programs, which a program may start on first use and
// which outlive it: they never count as part of a setup.
bool IsSystemServiceImage(const char* pszExeName);
// The image name of each process ("setup.exe"), or the empty text for one
// that the process list does not show (yet).
std::vector<std::string> ProcessImageNames(const std::vector<DWORD>& ids);
