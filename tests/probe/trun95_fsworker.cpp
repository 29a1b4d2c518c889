// A second process that works on the file system as a setup program would.
//   trun95_fsworker burst DIR FOLDERS FILES
//       creates DIR, FOLDERS folders in it and FILES files spread over them
//   trun95_fsworker hold-driver PATH MS
//       loads the driver module PATH and keeps it loaded for MS ms
// Exit code 0 when every step succeeded, else the number of the failed step.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool WriteFile(const std::string& path) {
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD cbWritten = 0;
    ::WriteFile(hFile, "x", 1, &cbWritten, nullptr);
    CloseHandle(hFile);
    return true;
}

bool MakeFolder(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

int Burst(const std::string& dir, int cFolders, int cFiles) {
    if (!MakeFolder(dir) || cFolders <= 0)
        return 1;
    char szName[64];
    for (int i = 0; i < cFolders; ++i) {
        std::snprintf(szName, sizeof szName, "\\f%03d", i);
        if (!MakeFolder(dir + szName))
            return 2;
    }
    for (int i = 0; i < cFiles; ++i) {
        std::snprintf(szName, sizeof szName, "\\f%03d\\file%05d.dat", i % cFolders, i);
        if (!WriteFile(dir + szName))
            return 3;
    }
    return 0;
}

int HoldDriver(const char* pszPath, DWORD dwMs) {
    HMODULE hDriver = LoadLibraryA(pszPath);
    if (!hDriver)
        return 1;
    Sleep(dwMs);
    FreeLibrary(hDriver);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "burst") == 0)
        return Burst(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (argc >= 4 && std::strcmp(argv[1], "hold-driver") == 0)
        return HoldDriver(argv[2], static_cast<DWORD>(std::atoi(argv[3])));
    return 100;
}
