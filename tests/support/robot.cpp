// The UI robot: answers the boxes and dialogs a test expects, leaves a window
// behind a box of its own alone, and ends a failed case that is stuck.
#include "robot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr DWORD kPollMs = 15;
// A window's thread that does not answer in this time is taken for hung.
constexpr DWORD kHungMs = 2000;
// The robot's thread checks for its stop every poll; it ends well within this.
constexpr DWORD kThreadEndMs = 30000;
// A case that has failed and where nothing happened for this long is stuck:
// its dialogs are ended, so that it reports instead of waiting for ever.
constexpr DWORD kStuckMs = 5000;

bool CaseHasFailed() {
    const testing::TestInfo* pInfo = testing::UnitTest::GetInstance()->current_test_info();
    return pInfo && pInfo->result()->Failed();
}
} // namespace

std::string DescribeOpenWindows() {
    return DescribeWindowsOf({}, kHungMs);
}

DWORD PacedMs(DWORD dwMs) {
    static const double pace = [] {
        const char* pszPace = std::getenv("TRUN95_PACE");
        return pszPace && std::atof(pszPace) > 1 ? std::atof(pszPace) : 1.0;
    }();
    return static_cast<DWORD>(dwMs * pace);
}

Robot::Robot() {
    InitializeCriticalSection(&lock_);
    hThread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

Robot::~Robot() {
    InterlockedExchange(&fStop_, 1);
    if (WaitForSingleObject(hThread_, kThreadEndMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "The robot's thread did not end; windows open:\n%s",
                     DescribeOpenWindows().c_str());
        std::abort();
    }
    CloseHandle(hThread_);
    DeleteCriticalSection(&lock_);
}

void Robot::ExpectBox(const std::string& caption, const std::string& text, int idAnswer) {
    EnterCriticalSection(&lock_);
    pending_.push_back({caption, text, false, false, idAnswer, nullptr});
    LeaveCriticalSection(&lock_);
}

void Robot::ExpectBoxStartingWith(const std::string& caption, const std::string& textPrefix,
                                  int idAnswer) {
    EnterCriticalSection(&lock_);
    pending_.push_back({caption, textPrefix, false, true, idAnswer, nullptr});
    LeaveCriticalSection(&lock_);
}

void Robot::ExpectDialog(const std::string& caption, std::function<void(HWND)> action) {
    EnterCriticalSection(&lock_);
    pending_.push_back({caption, "", true, false, 0, std::move(action)});
    LeaveCriticalSection(&lock_);
}

void Robot::Finish(DWORD dwTimeoutMs) {
    DWORD dwStart = GetTickCount();
    for (;;) {
        EnterCriticalSection(&lock_);
        bool fEmpty = pending_.empty();
        LeaveCriticalSection(&lock_);
        // A failed case reports at once what it still waited for.
        if (fEmpty || HasFailed() || GetTickCount() - dwStart > PacedMs(dwTimeoutMs))
            break;
        Sleep(kPollMs);
    }
    EnterCriticalSection(&lock_);
    for (const Expectation& missing : pending_)
        failures_.push_back("expected window never appeared: " + missing.caption + " | " +
                            missing.text + "\nwindows open:\n" + DescribeOpenWindows());
    pending_.clear();
    std::vector<std::string> failures;
    failures.swap(failures_);
    LeaveCriticalSection(&lock_);
    for (const std::string& failure : failures)
        ADD_FAILURE() << failure;
}

std::vector<std::string> Robot::Transcript() {
    EnterCriticalSection(&lock_);
    std::vector<std::string> copy = transcript_;
    LeaveCriticalSection(&lock_);
    return copy;
}

bool Robot::Answered(size_t n) {
    EnterCriticalSection(&lock_);
    bool fAnswered = transcript_.size() >= n && std::ranges::none_of(answeredBoxes_, IsWindow);
    LeaveCriticalSection(&lock_);
    return fAnswered;
}

DWORD WINAPI Robot::ThreadProc(void* pContext) {
    static_cast<Robot*>(pContext)->Run();
    return 0;
}

void Robot::Run() {
    while (!fStop_) {
        std::vector<HWND> found = VisibleDialogsOfThisProcess();
        handled_.erase(std::remove_if(handled_.begin(), handled_.end(),
                                      [](HWND hwnd) { return !IsWindow(hwnd); }),
                       handled_.end());
        // A window behind a box of its own waits, as it does for a person.
        for (HWND hwnd : found) {
            if (std::find(handled_.begin(), handled_.end(), hwnd) == handled_.end() &&
                IsWindowEnabled(hwnd)) {
                HandleWindow(hwnd);
                dwLastHandled_ = GetTickCount();
            }
        }
        if (GetTickCount() - dwLastHandled_ > kStuckMs && HasFailed()) {
            EndStuckDialogs(found);
            dwLastHandled_ = GetTickCount();
        }
        Sleep(kPollMs);
    }
}

void Robot::HandleWindow(HWND hwnd) {
    // A box just shown has filled its controls once its thread looks for
    // messages again.
    WaitUntilWindowIdle(hwnd, kHungMs);
    handled_.push_back(hwnd);
    bool fMessageBox = IsMessageBox(hwnd);
    std::string caption = WindowText(hwnd, kHungMs);
    std::string text = fMessageBox ? MessageBoxText(hwnd) : "";
    EnterCriticalSection(&lock_);
    bool fMatch = !pending_.empty() && pending_.front().caption == caption &&
                  pending_.front().fDialog == !fMessageBox &&
                  (pending_.front().fDialog || pending_.front().text == text ||
                   (pending_.front().fPrefix && text.rfind(pending_.front().text, 0) == 0));
    Expectation expected;
    if (fMatch) {
        expected = std::move(pending_.front());
        pending_.pop_front();
        transcript_.push_back(caption + "|" + text + "|" + std::to_string(expected.idAnswer));
    } else {
        std::string wanted = pending_.empty()
                                 ? std::string("nothing")
                                 : pending_.front().caption + " | " + pending_.front().text;
        failures_.push_back("unexpected window: " + caption + " | " + text +
                            " (expected: " + wanted + ")\nwindows open:\n" + DescribeOpenWindows());
        transcript_.push_back(caption + "|" + text + "|unexpected");
    }
    if (fMessageBox)
        answeredBoxes_.push_back(hwnd);
    LeaveCriticalSection(&lock_);
    if (!fMatch)
        Dismiss(hwnd, fMessageBox);
    else if (expected.fDialog)
        expected.action(hwnd);
    else
        PostMessageA(hwnd, WM_COMMAND, expected.idAnswer, 0);
}

bool Robot::HasFailed() {
    EnterCriticalSection(&lock_);
    bool fFailed = !failures_.empty();
    LeaveCriticalSection(&lock_);
    return fFailed || CaseHasFailed();
}

// Ends what keeps a failed case from returning: its dialogs, whatever they
// wait for (the dialog's loop takes the end from any thread of the process).
void Robot::EndStuckDialogs(const std::vector<HWND>& found) {
    for (HWND hwnd : found) {
        if (!IsWindow(hwnd) || !IsWindowEnabled(hwnd))
            continue;
        EnterCriticalSection(&lock_);
        failures_.push_back("the case had failed and nothing happened for " +
                            std::to_string(kStuckMs / 1000) + " s: ended \"" +
                            WindowText(hwnd, kHungMs) + "\"; windows open then:\n" +
                            DescribeOpenWindows());
        LeaveCriticalSection(&lock_);
        if (IsMessageBox(hwnd))
            Dismiss(hwnd, true);
        else
            EndDialog(hwnd, 0);
    }
}

// Closes a window nobody expected with its most cautious answer.
void Robot::Dismiss(HWND hwnd, bool fMessageBox) {
    if (fMessageBox) {
        int idAnswer = GetDlgItem(hwnd, IDNO) ? IDNO : GetDlgItem(hwnd, IDCANCEL) ? IDCANCEL : IDOK;
        PostMessageA(hwnd, WM_COMMAND, idAnswer, 0);
    } else {
        PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
    }
}
