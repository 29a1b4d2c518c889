// The host runs inside a job object of its own, so that every process that
// the setup program or a program's own uninstaller starts is counted, also
// after the process that started it has ended.
#pragma once

#include <windows.h>

class ProcessJob {
  public:
    ProcessJob() = default;
    ~ProcessJob();
    ProcessJob(const ProcessJob&) = delete;
    ProcessJob& operator=(const ProcessJob&) = delete;

    // Puts this process into a new job; its children inherit it.
    bool Enter();
    // True while any process of the job runs besides this one and Wine's
    // own background services.
    bool HasOtherProcesses() const;

  private:
    HANDLE hJob_ = nullptr;
};

// Wine's background programs, which a program may start on first use and
// which outlive it: they never count as part of a setup.
bool IsSystemServiceImage(const char* pszExeName);
