// A second process for tests.
//   trun95_probe version          exit code = is_version_ok() of TRUN95.dll
//   trun95_probe running          exit code = already_running() of TRUN95.dll
//   trun95_probe hold-file PATH MS   keeps PATH open without sharing for MS ms
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

typedef int (*PFNQUERY)(void);

int CallLibrary(const char* pszExport) {
    HMODULE hLibrary = LoadLibraryA("TRUN95.dll");
    if (!hLibrary)
        return 100;
    auto pfnQuery =
        reinterpret_cast<PFNQUERY>(reinterpret_cast<void*>(GetProcAddress(hLibrary, pszExport)));
    int result = pfnQuery ? pfnQuery() : 101;
    FreeLibrary(hLibrary);
    return result;
}

int HoldFile(const char* pszPath, DWORD dwMs) {
    // The test looks for the hold by opening the file briefly itself: an
    // open that meets one of those is tried again.
    HANDLE hFile = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 400 && hFile == INVALID_HANDLE_VALUE; ++i) {
        hFile = CreateFileA(pszPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr);
        if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
            Sleep(25);
        else
            break;
    }
    if (hFile == INVALID_HANDLE_VALUE)
        return 1;
    Sleep(dwMs);
    CloseHandle(hFile);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "version") == 0)
        return CallLibrary("is_version_ok");
    if (argc >= 2 && std::strcmp(argv[1], "running") == 0)
        return CallLibrary("already_running");
    if (argc >= 4 && std::strcmp(argv[1], "hold-file") == 0)
        return HoldFile(argv[2], static_cast<DWORD>(std::atoi(argv[3])));
    return 2;
}
