// Acts as a setup program for tests: changes folders and files the way an
// installer does and writes every change as the file-system monitor would
// report it, one line "code|path|new path" per change, into a log file.
//   fake_setup LOG PROGRAMS STARTMENU DESKTOP
// PROGRAMS is the Program Files folder; the Windows and system folders are
// the system's own.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

FILE* pLog;

void Log(int iCode, const std::string& path, const std::string& newPath = "") {
    std::fprintf(pLog, "%d|%s|%s\n", iCode, path.c_str(), newPath.c_str());
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD cbWritten = 0;
    WriteFile(hFile, bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr);
    CloseHandle(hFile);
    return cbWritten == bytes.size();
}

std::string ReadBytes(const std::string& path) {
    std::string bytes;
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hFile, buffer, sizeof buffer, &cbRead, nullptr) && cbRead)
        bytes.append(buffer, cbRead);
    CloseHandle(hFile);
    return bytes;
}

bool MakeFolder(const std::string& path) {
    if (!CreateDirectoryA(path.c_str(), nullptr))
        return false;
    Log(1, path);
    return true;
}

bool RemoveFolderNow(const std::string& path) {
    if (!RemoveDirectoryA(path.c_str()))
        return false;
    Log(2, path);
    return true;
}

bool MakeFile(const std::string& path, const std::string& bytes = "setup") {
    if (!WriteBytes(path, bytes))
        return false;
    Log(8, path);
    return true;
}

bool DeleteFileNow(const std::string& path) {
    if (!DeleteFileA(path.c_str()))
        return false;
    Log(6, path);
    return true;
}

bool Rename(const std::string& from, const std::string& to) {
    if (!MoveFileA(from.c_str(), to.c_str()))
        return false;
    Log(5, from, to);
    return true;
}

// Rewrites a file in place; its time changes, and so do its bytes when
// fAlter is set (one byte, same size).
bool Rewrite(const std::string& path, bool fAlter) {
    std::string bytes = ReadBytes(path);
    if (bytes.empty())
        return false;
    if (fAlter)
        bytes[0] = bytes[0] == '#' ? ';' : '#';
    Sleep(20); // a later last-write time than the backup saw
    return WriteBytes(path, bytes);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5)
        return 2;
    pLog = std::fopen(argv[1], "w");
    if (!pLog)
        return 3;
    std::string programs = argv[2], startMenu = argv[3], desktop = argv[4];
    char szWindows[MAX_PATH], szSystem[MAX_PATH];
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    GetSystemDirectoryA(szSystem, MAX_PATH);
    std::string windows = szWindows, system = szSystem;
    std::string acme = programs + "\\Acme";
    std::string common = programs + "\\Common Files";
    bool ok = true;
    // Program Files: a new program folder with a subfolder, a file renamed
    // inside it, and files in a folder that existed before.
    ok &= MakeFolder(acme);
    ok &= MakeFolder(acme + "\\Data");
    ok &= MakeFile(acme + "\\Acme.exe");
    ok &= MakeFile(acme + "\\Data\\a.dat");
    ok &= MakeFile(acme + "\\setup.tmp");
    ok &= Rename(acme + "\\setup.tmp", acme + "\\readme.txt");
    ok &= MakeFile(common + "\\AcmeShared.dll");
    ok &= MakeFile(common + "\\scratch.tmp");
    ok &= DeleteFileNow(common + "\\scratch.tmp");
    ok &= Rename(common + "\\acme-old.cfg", common + "\\acme-old.bak");
    ok &= MakeFolder(programs + "\\AcmeTemp");
    ok &= RemoveFolderNow(programs + "\\AcmeTemp");
    // The Windows folder, one of its subfolders and the system folder.
    ok &= MakeFile(windows + "\\acme.ini", "[acme]\r\n");
    ok &= MakeFile(windows + "\\inf\\acme.inf");
    ok &= MakeFile(system + "\\acme32.dll");
    ok &= DeleteFileNow(system + "\\acme-gone.dll");
    ok &= WriteBytes(system + "\\acme-shared.dat", "changed by setup");
    ok &= Rewrite(windows + "\\win.ini", false);
    ok &= Rewrite(windows + "\\system.ini", true);
    // Start Menu and Desktop.
    ok &= MakeFolder(startMenu + "\\Programs\\Acme");
    ok &= MakeFile(startMenu + "\\Programs\\Acme\\Acme.lnk");
    ok &= MakeFile(startMenu + "\\Programs\\Acme Help.lnk");
    ok &= MakeFile(desktop + "\\Acme.lnk");
    std::fclose(pLog);
    return ok ? 0 : 1;
}
