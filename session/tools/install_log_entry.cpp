// The entry points that the tools library, trun95check.dll, adds for install
// logs: after a watched setup the session is saved as a log instead of being
// offered, and later a log is offered and carried out like a session.
#include "install_log/capture.h"
#include "install_log/manifest.h"
#include "install_log/offer.h"

#include "actions/deaction.h"
#include "common/strings.h"
#include "common/status.h"
#include "common/boxes.h"
#include "common/paths.h"
#include "registry/uninstaller.h"
#include "registry/restore.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/internal_error.h"
#include "common/library.h"
#include "session/session.h"

#include <shlobj.h>

#include <string>

namespace {

enum : int {
    kLogDone = 0,
    kLogAbandoned = 1,
    kLogNotWritten = 2,
    kLogNoSession = 3,
    kLogRefused = 6
};

void PutText(char* pszBuffer, int cchBuffer, const std::string& text) {
    if (pszBuffer && cchBuffer > 0)
        lstrcpynA(pszBuffer, text.c_str(), cchBuffer);
}

void RemoveLogFolder(const std::string& folder) {
    std::string withSlash = folder + "\\";
    DeleteFolderFiles(withSlash.c_str());
    RemoveFolder(folder.c_str());
}

// The folder for a new log: its name, or with " (2)", " (3)" ... when a
// log of that name is kept already.
std::string FreeLogFolder(const std::string& logs, const std::string& name) {
    std::string folder = JoinPath(logs.c_str(), name.c_str());
    for (int i = 2; PathExists(folder.c_str()); ++i)
        folder = JoinPath(logs.c_str(), (name + " (" + std::to_string(i) + ")").c_str());
    return folder;
}

std::string SaveLog(HWND hwndStatus, const std::string& logs, const std::string& name,
                    const std::string& setup) {
    BuildUndoActions(hwndStatus, false);
    InstallLog log;
    log.setup = setup;
    std::string staging = JoinPath(logs.c_str(), ".saving");
    RemoveLogFolder(staging);
    CreateDirectoryA(logs.c_str(), nullptr);
    if (!SaveSessionAsLog(staging, log))
        return "the backed-up files could not be copied into " + staging;
    // The command line starts with the program, quoted when it holds blanks.
    std::string program = setup.starts_with('"') ? setup.substr(1, setup.find('"', 1) - 1)
                                                 : setup.substr(0, setup.find(' '));
    // The log goes by its folder's name, which `list` shows and `uninstall`
    // takes: a second log of one program gets a name of its own.
    std::string folder =
        FreeLogFolder(logs, LogFolderName(name.empty() ? ProgramNameOf(log, program) : name));
    log.name = folder.substr(folder.rfind('\\') + 1);
    if (!WriteInstallLog(staging, log) || !MoveFileA(staging.c_str(), folder.c_str()))
        return "the log could not be written into " + folder;
    return "";
}

// Offers the program's own uninstaller first; false when the user then
// stopped.
bool OfferOwnUninstaller(const InstallLog& log, HWND hwndStatus) {
    ShowStatus(hwndStatus, GetResString(IDS_SEARCHING_UNINSTALLER));
    RTREE* pKey = ReadRecordedUninstallKey(log);
    if (!pKey)
        return true;
    int fStopped = OfferRecordedUninstaller(pKey);
    FreeRegistryNode(pKey, 1);
    return fStopped == 0;
}

// The restores take their copies from the session's temporary folder, which
// every end of the session removes, a given-up one too: the log's copies are
// copied there, so that the log keeps its own whatever becomes of the run.
bool CopyBackupsToTempFolder(const InstallLog& log, const std::string& folder) {
    FindTempBase();
    if (!CreateTempFolder(szTempDir))
        return false;
    std::string backups = JoinPath(folder.c_str(), kBackupFolderName);
    for (const LogItem& item : log.items) {
        if (item.wKind == DEA_RESTORE &&
            !CopyFileA(JoinPath(backups.c_str(), item.backup.c_str()).c_str(),
                       JoinPath(szTempDir, item.backup.c_str()).c_str(), FALSE))
            return false;
    }
    return true;
}

std::string OfferLog(InstallLog& log, const std::string& folder, HWND hwndStatus) {
    if (!CopyBackupsToTempFolder(log, folder))
        return "the backed-up copies could not be copied into a temporary folder";
    if (!OfferOwnUninstaller(log, hwndStatus))
        return "";
    SetExplorerUnload(1);
    ShowStatus(hwndStatus, GetResString(IDS_SORTING_ITEMS));
    OfferLogItems(log);
    SortActionList();
    ShowStatus(hwndStatus, GetResString(IDS_DONE));
    if (!AnyActionToOffer(pActionList) || show_deinstall_dialog(hwndParent) == 0)
        UninstMessageBox(GetResString(IDS_NOTHING_TO_UNINSTALL), MB_OK);
    if (KeepItemsLeft(log))
        WriteInstallLog(folder, log);
    else
        RemoveLogFolder(folder);
    return "";
}

} // namespace

extern "C" {

// Saves the session after setup as an install log in a folder of its own
// below pszLogs, instead of offering it. 0 saved, 1 abandoned, 2 not written
// (pszError says why).
int save_install_log(HWND hwndParentArg, HWND hwndStatus, const char* pszLogs, const char* pszName,
                     const char* pszSetup, char* pszError, int cchError) {
    hwndParent = hwndParentArg;
    std::string error;
    int result = kLogDone;
    if (!Guarded([&] { error = SaveLog(hwndStatus, pszLogs, pszName, pszSetup); }))
        result = kLogAbandoned;
    Guarded([] { EndPostSetup(); });
    post_setup_cleanup();
    if (result == kLogDone && !error.empty())
        result = kLogNotWritten;
    PutText(pszError, cchError, error);
    return result;
}

// Checks the install log in pszFolder against the machine, offers it and
// carries out what the user picks; the log is removed when nothing of it is
// left, else kept with what is left. 0 ran to its end, 1 abandoned, 3 no
// session could begin, 6 the log was refused (pszError says why).
int uninstall_from_log(HWND hwndParentArg, HWND hwndStatus, const char* pszFolder, char* pszError,
                       int cchError) {
    if (already_running() || !is_version_ok())
        return kLogNoSession;
    hwndParent = hwndParentArg;
    InstallLog log;
    std::string folder = pszFolder;
    std::string error;
    int result = kLogDone;
    if (!Guarded([&] {
            if (!OpenSessionState()) {
                error = "the session could not begin";
                result = kLogNoSession;
                return;
            }
            error = LoadInstallLog(folder, log);
            if (!error.empty()) {
                result = kLogRefused;
                return;
            }
            error = OfferLog(log, folder, hwndStatus);
            if (!error.empty())
                result = kLogNoSession;
        }))
        result = kLogAbandoned;
    Guarded([] { SetExplorerUnload(0); });
    post_setup_cleanup();
    ForgetLogActions();
    PutText(pszError, cchError, error);
    return result;
}

} // extern "C"
