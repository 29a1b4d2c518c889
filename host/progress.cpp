// Progress lines of an unattended run on the standard error output.
#include "host/progress.h"

#include <windows.h>

#include <cstdio>

namespace {

bool g_fProgress = false;
DWORD g_dwStart = GetTickCount();

} // namespace

void EnableProgress() {
    g_fProgress = true;
}

void ShowProgress(const std::string& text) {
    if (!g_fProgress || text.empty())
        return;
    char szLine[1200];
    int cch = std::snprintf(szLine, sizeof szLine, "[%6.1f s] %.1100s\n",
                            (GetTickCount() - g_dwStart) / 1000.0, text.c_str());
    DWORD cbWritten = 0;
    HANDLE hError = GetStdHandle(STD_ERROR_HANDLE);
    // One write per line, so that lines of two threads never mix.
    if (hError && hError != INVALID_HANDLE_VALUE && cch > 0)
        WriteFile(hError, szLine, static_cast<DWORD>(lstrlenA(szLine)), &cbWritten, nullptr);
}
