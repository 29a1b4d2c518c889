#include "robot.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
constexpr DWORD kPollMs = 15;
} // namespace

Robot::Robot() {
    InitializeCriticalSection(&lock_);
    hThread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

Robot::~Robot() {
    InterlockedExchange(&fStop_, 1);
    WaitForSingleObject(hThread_, INFINITE);
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
        if (fEmpty || GetTickCount() - dwStart > dwTimeoutMs)
            break;
        Sleep(kPollMs);
    }
    EnterCriticalSection(&lock_);
    for (const Expectation& missing : pending_)
        failures_.push_back("expected window never appeared: " + missing.caption + " | " +
                            missing.text);
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
        for (HWND hwnd : found) {
            if (std::find(handled_.begin(), handled_.end(), hwnd) == handled_.end())
                HandleWindow(hwnd);
        }
        Sleep(kPollMs);
    }
}

void Robot::HandleWindow(HWND hwnd) {
    // Give a new box a moment to fill its controls.
    Sleep(kPollMs);
    handled_.push_back(hwnd);
    bool fMessageBox = IsMessageBox(hwnd);
    std::string caption = WindowText(hwnd);
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
                            " (expected: " + wanted + ")");
        transcript_.push_back(caption + "|" + text + "|unexpected");
    }
    LeaveCriticalSection(&lock_);
    if (!fMatch)
        Dismiss(hwnd, fMessageBox);
    else if (expected.fDialog)
        expected.action(hwnd);
    else
        PostMessageA(hwnd, WM_COMMAND, expected.idAnswer, 0);
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
