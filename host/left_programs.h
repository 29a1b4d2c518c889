// What setup leaves running once its own first process has ended: the
// program it installed ("Run the program now"), its tray helper, a readme in
// Notepad. A person would now be using them; the unattended user counts
// setup as done once they have sat idle for a while, and closes them as a
// person does, so that the undo never meets them holding their files.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Setup counts as done once what it left has been idle this long.
constexpr DWORD kLeftIdleMs = 3000;
// A program asked to close gets this long to end before it is ended.
constexpr DWORD kCloseBoundMs = 5000;

class LeftProgramsWatch {
  public:
    // hSetup: setup's own first process, a handle that stays the caller's.
    explicit LeftProgramsWatch(HANDLE hSetup) : hSetup_(hSetup) {}
    // Called every few hundred milliseconds with the job's processes: true
    // once setup's first process has ended and the same processes have,
    // for kLeftIdleMs, waited for input, shown no dialog (a dialog is setup
    // still asking) and used next to no processor time.
    bool Idle(std::vector<DWORD> processes);
    HANDLE Setup() const { return hSetup_; }

  private:
    HANDLE hSetup_;
    std::vector<DWORD> watched_;
    ULONGLONG cpuTime_ = 0;
    DWORD dwIdleSince_ = GetTickCount();
};

struct ClosedProgram {
    std::string image;   // "epsilon.exe"
    std::string caption; // its first window's caption, or the image name
    bool fEnded;         // it did not close within kCloseBoundMs and was ended
};

// Sends WM_CLOSE to every visible top-level window of the processes, waits
// up to kCloseBoundMs for them to end, then ends those still running.
std::vector<ClosedProgram> CloseLikeAPerson(const std::vector<DWORD>& processes);
