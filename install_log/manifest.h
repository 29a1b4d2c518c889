// Install logs: what the undo of one program needs later, taken when it was
// installed, kept in a folder per program ("manifest.txt" and the backed-up
// copies in "backup"). The manifest's records, written and read back;
// docs/install-log.md describes the format.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RTREE;

// Version 2 holds registry names and string data as UTF-8; version 1, still
// read, as ANSI text.
inline constexpr int kInstallLogVersion = 2;
inline constexpr int kOldestInstallLogVersion = 1;
inline constexpr char kInstallLogMagic[] = "TRUN95 install log";
inline constexpr char kManifestName[] = "manifest.txt";
inline constexpr char kBackupFolderName[] = "backup";
// The snapshot roots that hold Uninstall entries: the machine's
// (HKEY_LOCAL_MACHINE\Software) and, for a setup that installs for one user
// only, the user's (HKEY_CURRENT_USER\Software).
inline constexpr int kMachineSoftwareRow = 1;
inline constexpr int kUserSoftwareRow = 2;

// A file as it was at install time; an empty hash means the file could not
// be read then.
struct FileStamp {
    std::string path;
    ULONGLONG cbSize = 0;
    ULONGLONG qwWriteTime = 0;
    std::string sha1;
};

bool operator==(const FileStamp& a, const FileStamp& b);

// The state of a file now, under the same path; false when it is gone.
bool StampFile(const std::string& path, FileStamp& stamp);

// One undo action of the dialog with everything needed to check it later.
struct LogItem {
    WORD wKind = 0;
    WORD wOrder = 0;
    std::string description;
    std::string object;
    std::string extra;                // group or icon path
    std::vector<FileStamp> files;     // what setup made (folder contents, the file, the icon)
    std::vector<std::string> folders; // folders setup made inside a folder
    std::string backup;               // restore: name of the copy in "backup"
    DWORD dwChange = 0;               // registry: added, values changed, deleted
    int iRoot = 0;                    // registry: row of the root table
    std::string keyPath;              // registry: names below the root, joined by '\'
    RTREE* pBefore = nullptr;         // registry: the key before setup, with its subtree
    RTREE* pAfter = nullptr;          // registry: the key as setup left it
    bool fInexactName = false;        // registry: an older log's ANSI name holds "?"
    bool fDone = false;               // carried out or gone: not written into a kept log
};

struct InstallLog {
    int iVersion = kInstallLogVersion;
    std::string name;
    std::string setup;
    std::string installed; // date and time, UTC
    std::vector<std::string> cautions;
    std::vector<LogItem> items;

    InstallLog() = default;
    InstallLog(const InstallLog&) = delete;
    InstallLog& operator=(const InstallLog&) = delete;
    ~InstallLog();
};

// The manifest text of a log, and its reading; Read returns the empty text
// or what is wrong with it, naming the line.
std::string ManifestText(const InstallLog& log);
std::string ReadManifest(const std::string& text, InstallLog& log);

// Reads the log in a folder and checks that its backed-up copies are there.
// The empty text, or what is wrong (the log is then not to be used).
std::string LoadInstallLog(const std::string& folder, InstallLog& log);
// Writes the manifest into the folder (made when missing); false on failure.
bool WriteInstallLog(const std::string& folder, const InstallLog& log);
