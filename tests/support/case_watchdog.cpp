// The last bound on every test case, and what it prints when a case overruns.
#include "case_watchdog.h"

#include "robot.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr DWORD kDefaultLimitSeconds = 240;

// Ends the process when a case overruns: its own thread is stuck, so no
// failure can be recorded in it; the windows then open tell why.
class CaseWatchdog : public testing::EmptyTestEventListener {
  public:
    CaseWatchdog() {
        const char* pszLimit = std::getenv("TRUN95_CASE_SECONDS");
        dwLimitMs_ =
            (pszLimit && std::atoi(pszLimit) > 0 ? std::atoi(pszLimit) : kDefaultLimitSeconds) *
            1000;
        CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    }

  private:
    void OnTestStart(const testing::TestInfo& info) override {
        dwStarted_ = GetTickCount();
        pInfo_ = &info;
    }
    void OnTestEnd(const testing::TestInfo&) override { pInfo_ = nullptr; }
    static DWORD WINAPI ThreadProc(void* pContext) {
        auto* pThis = static_cast<CaseWatchdog*>(pContext);
        for (;; Sleep(500)) {
            const testing::TestInfo* pInfo = pThis->pInfo_;
            if (!pInfo || GetTickCount() - pThis->dwStarted_ <= pThis->dwLimitMs_)
                continue;
            std::fprintf(stderr, "[  HUNG    ] %s.%s did not end within %lu s; windows open:\n%s",
                         pInfo->test_suite_name(), pInfo->name(),
                         static_cast<unsigned long>(pThis->dwLimitMs_ / 1000),
                         DescribeOpenWindows().c_str());
            std::fflush(nullptr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }

    DWORD dwLimitMs_;
    std::atomic<const testing::TestInfo*> pInfo_ = nullptr;
    std::atomic<DWORD> dwStarted_ = 0;
};

} // namespace

void InstallCaseWatchdog(testing::TestEventListeners& listeners) {
    listeners.Append(new CaseWatchdog);
}
