// A UI robot for tests: it watches this process's message boxes and dialogs
// from a thread of its own, checks their caption and exact text, answers
// them, and fails the test on a box nobody expected or one that never came.
// Like a person, it leaves a window alone while a box of its own stands in
// front of it, and every wait of the tests' support gives up after a bound,
// naming the windows then open.
#pragma once

#include "host/found_windows.h"

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

// What a person would see now: every visible top-level window of the
// prefix, one line each (caption, class, enabled or not, texts, buttons).
std::string DescribeOpenWindows();
// A bound of the tests, stretched by the machine's pace: TRUN95_PACE, set
// where the tests run on a slower machine (the emulated one measures it).
DWORD PacedMs(DWORD dwMs);

class Robot {
  public:
    Robot();
    ~Robot();
    Robot(const Robot&) = delete;
    Robot& operator=(const Robot&) = delete;

    // A message box with exactly this caption and text, answered with the
    // button id (IDOK, IDYES, IDNO, ...).
    void ExpectBox(const std::string& caption, const std::string& text, int idAnswer);
    // The same for a box whose text begins with textPrefix (a report that
    // names a source line).
    void ExpectBoxStartingWith(const std::string& caption, const std::string& textPrefix,
                               int idAnswer);
    // A dialog with this caption; the action runs on the robot thread with
    // the dialog's handle and must not block (post, do not send, to close).
    void ExpectDialog(const std::string& caption, std::function<void(HWND)> action);

    // Waits until every expectation has been met (or the time-out passed)
    // and reports what was missing or unexpected as test failures.
    void Finish(DWORD dwTimeoutMs = 20000);

    // "caption|text|answer" of every window handled so far, in order.
    std::vector<std::string> Transcript();
    // True once n windows have been handled and every box answered so far
    // has closed: what a person waits for before the next step.
    bool Answered(size_t n);

  private:
    struct Expectation {
        std::string caption;
        std::string text; // message boxes only
        bool fDialog;
        bool fPrefix;
        int idAnswer;
        std::function<void(HWND)> action;
    };

    static DWORD WINAPI ThreadProc(void* pContext);
    void Run();
    void HandleWindow(HWND hwnd);
    void Dismiss(HWND hwnd, bool fMessageBox);
    bool HasFailed();
    void EndStuckDialogs(const std::vector<HWND>& found);

    CRITICAL_SECTION lock_;
    HANDLE hThread_ = nullptr;
    volatile LONG fStop_ = 0;
    DWORD dwLastHandled_ = GetTickCount();
    std::deque<Expectation> pending_;
    std::vector<HWND> handled_;
    std::vector<HWND> answeredBoxes_;
    std::vector<std::string> transcript_;
    std::vector<std::string> failures_;
};
