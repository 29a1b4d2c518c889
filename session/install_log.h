// Install logs: what the undo of one program needs later, taken when it was
// installed, kept in a folder per program ("manifest.txt" and the backed-up
// copies in "backup"). docs/install-log.md describes the format.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RTREE;
struct DEACTION;

inline constexpr int kInstallLogVersion = 1;
inline constexpr char kInstallLogMagic[] = "TRUN95 install log";
inline constexpr char kManifestName[] = "manifest.txt";
inline constexpr char kBackupFolderName[] = "backup";
// The snapshot root that holds the Uninstall entries: HKEY_LOCAL_MACHINE\Software.
inline constexpr int kMachineSoftwareRow = 1;

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

// The session's action list and cautions as a log; the restored files'
// copies are taken from the session's temporary folder into the log folder.
bool SaveSessionAsLog(const std::string& folder, InstallLog& log);
// The name a log goes by: the display name of the Uninstall key setup added,
// else the setup program's name without its folder and ".exe".
std::string ProgramNameOf(const InstallLog& log, const std::string& setup);
// A name usable as a folder name.
std::string LogFolderName(const std::string& name);

// Turns the log's items into the session's actions and cautions, each
// checked against the machine as it is now.
void OfferLogItems(InstallLog& log);
// Marks the items whose actions were carried out or were gone. True when
// the log is still needed: an action offered checked was not carried out
// (the person unticked it, cancelled, or it failed). What was held back for
// changing since install and left unchecked is the person's to keep.
bool KeepItemsLeft(InstallLog& log);
// Releases what OfferLogItems made for the actions.
void ForgetLogActions();
// The registry key of an item's Uninstall entry, read as it is now; null
// when the log has none or it is gone. Freed by the caller.
RTREE* ReadRecordedUninstallKey(const InstallLog& log);

// Undo of a folder setup made: only the files setup made and that are
// unchanged are deleted, then the folders setup made that are left empty.
int UndoDeleteRecordedFolder(DEACTION* pact);
// Nothing of the user's goes with such a folder: no question, only the check
// that none of its files is in use.
int ConfirmRecordedFolderDelete(DEACTION* pact);
