#include "monitor_wait.h"

#include "monitor/monitor.h"

namespace {
constexpr DWORD kPollMs = 20;
constexpr DWORD kQuietMs = 300;
} // namespace

bool WaitForHandedOver(DWORD dwTarget, DWORD dwTimeoutMs) {
    DWORD dwStart = GetTickCount();
    DWORD dwLastCount = MonitorRecordsHandedOver();
    DWORD dwLastChange = dwStart;
    for (;;) {
        DWORD dwNow = GetTickCount();
        DWORD dwCount = MonitorRecordsHandedOver();
        if (dwCount != dwLastCount) {
            dwLastCount = dwCount;
            dwLastChange = dwNow;
        }
        if (dwCount >= dwTarget && dwNow - dwLastChange >= kQuietMs)
            return true;
        if (dwNow - dwStart > dwTimeoutMs)
            return false;
        Sleep(kPollMs);
    }
}

void DeleteTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE hFind = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            bool fFolder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            bool fLink = found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
            if (fFolder && !fLink) {
                DeleteTree(path);
            } else if (fFolder) {
                RemoveDirectoryA(path.c_str());
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(hFind, &found));
        FindClose(hFind);
    }
    RemoveDirectoryA(folder.c_str());
}
