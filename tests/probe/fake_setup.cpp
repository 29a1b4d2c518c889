// Acts as a setup program for tests: changes folders and files the way an
// installer does and writes every change as the file-system monitor would
// report it, one line "code|path|new path" per change, into a log file.
//   fake_setup LOG PROGRAMS STARTMENU DESKTOP
// PROGRAMS is the Program Files folder; the Windows and system folders are
// the system's own.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

FILE* pLog;

bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out << bytes);
}

// The codes of the monitor's records.
enum { kFolderCreated = 1, kFolderRemoved = 2, kRenamed = 5, kFileDeleted = 6, kFileCreated = 8 };

// Makes one change and logs it as the monitor would report it. A created
// file holds "setup" unless other bytes are given; a rename names the new
// path as the other.
bool Change(int iCode, const std::string& path, const std::string& other = "") {
    bool fDone = false;
    switch (iCode) {
    case kFolderCreated:
        fDone = CreateDirectoryA(path.c_str(), nullptr);
        break;
    case kFolderRemoved:
        fDone = RemoveDirectoryA(path.c_str());
        break;
    case kRenamed:
        fDone = MoveFileA(path.c_str(), other.c_str());
        break;
    case kFileDeleted:
        fDone = DeleteFileA(path.c_str());
        break;
    case kFileCreated:
        fDone = WriteBytes(path, other.empty() ? "setup" : other);
        break;
    }
    if (fDone)
        std::fprintf(pLog, "%d|%s|%s\n", iCode, path.c_str(),
                     iCode == kRenamed ? other.c_str() : "");
    return fDone;
}

// Rewrites a file in place; its time changes, and so do its bytes when
// fAlter is set (one byte, same size).
bool Rewrite(const std::string& path, bool fAlter) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
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
    ok &= Change(kFolderCreated, acme);
    ok &= Change(kFolderCreated, acme + "\\Data");
    ok &= Change(kFileCreated, acme + "\\Acme.exe");
    ok &= Change(kFileCreated, acme + "\\Data\\a.dat");
    ok &= Change(kFileCreated, acme + "\\setup.tmp");
    ok &= Change(kRenamed, acme + "\\setup.tmp", acme + "\\readme.txt");
    ok &= Change(kFileCreated, common + "\\AcmeShared.dll");
    ok &= Change(kFileCreated, common + "\\scratch.tmp");
    ok &= Change(kFileDeleted, common + "\\scratch.tmp");
    ok &= Change(kRenamed, common + "\\acme-old.cfg", common + "\\acme-old.bak");
    ok &= Change(kFolderCreated, programs + "\\AcmeTemp");
    ok &= Change(kFolderRemoved, programs + "\\AcmeTemp");
    // The Windows folder, one of its subfolders and the system folder.
    ok &= Change(kFileCreated, windows + "\\acme.ini", "[acme]\r\n");
    ok &= Change(kFileCreated, windows + "\\inf\\acme.inf");
    ok &= Change(kFileCreated, system + "\\acme32.dll");
    ok &= Change(kFileDeleted, system + "\\acme-gone.dll");
    ok &= WriteBytes(system + "\\acme-shared.dat", "changed by setup");
    ok &= Rewrite(windows + "\\win.ini", false);
    ok &= Rewrite(windows + "\\system.ini", true);
    // Start Menu and Desktop.
    ok &= Change(kFolderCreated, startMenu + "\\Programs\\Acme");
    ok &= Change(kFileCreated, startMenu + "\\Programs\\Acme\\Acme.lnk");
    ok &= Change(kFileCreated, startMenu + "\\Programs\\Acme Help.lnk");
    ok &= Change(kFileCreated, desktop + "\\Acme.lnk");
    std::fclose(pLog);
    return ok ? 0 : 1;
}
