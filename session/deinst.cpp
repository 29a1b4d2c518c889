// One uninstall session: the exported entry points and the fixed order of
// its steps from the first snapshot to the final cleanup.
#include "session/session.h"

#include "common/library.h"
#include "actions/deaction.h"
#include "common/strings.h"
#include "common/status.h"
#include "common/boxes.h"
#include "common/paths.h"
#include "files/lists.h"
#include "files/recorder.h"
#include "session/recording.h"
#include "files/compare.h"
#include "files/verify.h"
#include "files/groups.h"
#include "registry/snapshot.h"
#include "registry/compare.h"
#include "registry/uninstaller.h"
#include "registry/restore.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "common/guard.h"
#include "common/state_reset.h"
#include "common/internal_error.h"

#include <malloc.h>
#include <shlobj.h>

WORD fInSession;
ATOM atomRunning;

namespace {

// Gives free heap memory back to the system before a long session step.
void MinimiseHeap() {
    _heapmin();
}

void ResetSessionLists() {
    NewFolders = NewFiles = Cautions = nullptr;
    WinBefore = WinAfter = SysBefore = SysAfter = BackupList = nullptr;
    pActionList = nullptr;
    RegBefore = RegAfter = nullptr;
}

// Everything of pre_setup_save after its preconditions. Returns 1 when the
// session started.
BOOL StartSession(HWND hwndStatus) {
    if (!OpenSessionState())
        return FALSE;
    ShowStatus(hwndStatus, GetResString(IDS_INITIALIZING));
    ResetSessionLists();
    FindTempBase();
    if (!CreateTempFolder(szTempDir)) {
        UninstMessageBox(GetResString(IDS_NO_TEMP_FOLDER), MB_ICONHAND);
        RaiseSessionException(EXC_TEMP_FOLDER);
    }
    ShowStatus(hwndStatus, GetResString(IDS_BACKING_UP));
    BeginBusy();
    if (!SnapshotSystemFolders()) {
        UninstMessageBox(GetResString(IDS_BACKUP_FAILED), MB_ICONHAND);
        RaiseSessionException(EXC_BACKUP);
    }
    TakeRegistrySnapshot(&RegBefore, hwndStatus);
    LoadProtectedFolders();
    PumpMessages();
    StartRecording();
    ShowStatus(hwndStatus, GetResString(IDS_READY));
    return TRUE;
}

void ListSystemFoldersAfterSetup() {
    DWORD dwCount = 0;
    ListFolderFiles(WinDir, &WinAfter, &dwCount);
    SortFileList(&WinAfter, dwCount);
    ListFolderFiles(SysDir, &SysAfter, &dwCount);
    SortFileList(&SysAfter, dwCount);
}

} // namespace

bool OpenSessionState() {
    fInSession = 1;
    szTempDir[0] = '\0';
    ForgetAbandonedState();
    if (FAILED(SHGetMalloc(&pShellMalloc)) || !pShellMalloc) {
        pShellMalloc = nullptr;
        UninstMessageBox(GetResString(IDS_NO_SHELL_MALLOC), MB_ICONHAND);
        return false;
    }
    atomRunning = GlobalAddAtomA(kRunningAtomName);
    LoadRegistryStrings();
    return true;
}

void (*pfnFootprintCompared)();

namespace {

// Compares the registry and the folders with their state before setup, and
// builds and sorts the actions.
void CompareWithBefore(HWND hwndStatus) {
    ShowStatus(hwndStatus, GetResString(IDS_CHECKING_REGISTRY));
    CompareRegistrySnapshots(&RegBefore, &RegAfter, OnRegValueChange, OnRegKeyChange);
    PumpMessages();
    ShowStatus(hwndStatus, GetResString(IDS_BUILDING_FILE_LISTS));
    ListSystemFoldersAfterSetup();
    ShowStatus(hwndStatus, GetResString(IDS_COMPARING_FILES));
    CompareFiles();
    ShowStatus(hwndStatus, GetResString(IDS_VERIFYING_NEW_ITEMS));
    VerifyNewItems();
    ShowStatus(hwndStatus, GetResString(IDS_CHECKING_GROUPS));
    CheckGroupsAndIcons();
    ShowStatus(hwndStatus, GetResString(IDS_SORTING_ITEMS));
    SortActionList();
}

// Compares once before the setup's own uninstaller can change anything and
// hands what setup made to pfnFootprintCompared. The comparison takes names
// out of the monitor's lists and renames them, so they are kept aside and
// put back: the comparison after the own uninstaller starts from the same
// lists as one without this step.
void HandOverFootprint(HWND hwndStatus) {
    NAMEITEM* pFolders = CopyNameList(NewFolders);
    NAMEITEM* pFiles = CopyNameList(NewFiles);
    NAMEITEM* pCautions = CopyNameList(Cautions);
    CompareWithBefore(hwndStatus);
    pfnFootprintCompared();
    FreeActionList();
    FreeFileList(&WinAfter);
    FreeFileList(&SysAfter);
    FreeNameList(&NewFolders);
    FreeNameList(&NewFiles);
    FreeNameList(&Cautions);
    NewFolders = pFolders;
    NewFiles = pFiles;
    Cautions = pCautions;
}

} // namespace

// Stops the monitor, offers the setup's own uninstaller (when fOfferOwn),
// compares the registry and the folders with their state before setup, and
// builds and sorts the actions. Returns false when the user chose the
// setup's own uninstaller and stopped.
bool BuildUndoActions(HWND hwndStatus, bool fOfferOwn) {
    StopRecording();
    PumpMessages();
    ResolveRecordedChanges();
    BeginBusy();
    if (fOfferOwn) {
        // Every root: a per-user setup registers its uninstaller under
        // HKEY_CURRENT_USER.
        TakeRegistrySnapshot(&RegAfter, hwndStatus);
        PumpMessages();
        if (pfnFootprintCompared)
            HandOverFootprint(hwndStatus);
        ShowStatus(hwndStatus, GetResString(IDS_SEARCHING_UNINSTALLER));
        if (DetectSystemUninstaller(&RegBefore, &RegAfter) == 1)
            return false;
        PumpMessages();
        if (RegAfter)
            FreeRegistrySnapshot(&RegAfter);
    }
    TakeRegistrySnapshot(&RegAfter, hwndStatus);
    // After the snapshot: the session's own setting is never one of setup's
    // changes.
    SetExplorerUnload(1);
    CompareWithBefore(hwndStatus);
    ShowStatus(hwndStatus, GetResString(IDS_DONE));
    EndBusy();
    return true;
}

// Puts back what the session changed for its own work after the offer.
void EndPostSetup() {
    BeginBusy();
    RemoveTempFolder();
    SetExplorerUnload(0);
    FreeProtectedFolders();
    EndBusy();
}

namespace {

// The offer: message 110 when there is nothing to offer, else the dialog.
void OfferUndoActions() {
    if (!pActionList || !AnyActionToOffer(pActionList) || show_deinstall_dialog(hwndParent) == 0)
        UninstMessageBox(GetResString(IDS_NOTHING_TO_UNINSTALL), MB_OK);
}

void RunPostSetup(HWND hwndParentArg, HWND hwndStatus) {
    hwndParent = hwndParentArg;
    if (!BuildUndoActions(hwndStatus, true))
        return;
    if (!Guarded([] { OfferUndoActions(); }))
        ReportInternalException("Deinst", 2, __LINE__);
    EndPostSetup();
}

void RunCleanup() {
    if (!fInSession)
        return;
    BeginBusy();
    StopRecording();
    if (RegBefore)
        FreeRegistrySnapshot(&RegBefore);
    if (RegAfter)
        FreeRegistrySnapshot(&RegAfter);
    PumpMessages();
    GlobalDeleteAtom(atomRunning);
    atomRunning = 0;
    RemoveTempFolder();
    FreeFileList(&BackupList);
    FreeFileList(&WinBefore);
    FreeFileList(&WinAfter);
    FreeFileList(&SysBefore);
    FreeFileList(&SysAfter);
    FreeNameList(&Cautions);
    FreeNameList(&NewFolders);
    FreeNameList(&NewFiles);
    FreeActionList();
    FreeRecordedChanges();
    fInSession = 0;
    EndBusy();
}

} // namespace

extern "C" {

int already_running(void) {
    return GlobalFindAtomA(kRunningAtomName) != 0 ? 1 : 0;
}

int is_version_ok(void) {
    DWORD dwVersion = GetVersion();
    bool fWindows95Family = (dwVersion & 0x80000000u) != 0;
    return fWindows95Family && LOBYTE(LOWORD(dwVersion)) >= 4 ? 1 : 0;
}

int WINAPI deinstal_about(HWND hwndOwner) {
    return ShowLibraryBox(hwndOwner,
                          "Tarnel Uninstaller version " TRUN95_VERSION_TEXT "\n\n"
                          "Watches a setup program and undoes what it did.\n"
                          "Tarnel, trun95-beta@tarnel.example",
                          MB_OK);
}

BOOL WINAPI pre_setup_save(HWND hwndParentArg, HWND hwndStatus) {
    if (!hwndParentArg)
        InternalError("Deinst", __LINE__);
    if (!hwndStatus)
        InternalError("Deinst", __LINE__);
    if (!IsWindow(hwndStatus) || !IsWindow(hwndParentArg) || already_running() || !is_version_ok())
        return FALSE;
    MinimiseHeap();
    hwndParent = hwndParentArg;
    BOOL fStarted = FALSE;
    if (!Guarded([&] { fStarted = StartSession(hwndStatus); })) {
        post_setup_cleanup();
        return FALSE;
    }
    EndBusy();
    return fStarted;
}

int WINAPI post_setup_uninstall(HWND hwndParentArg, HWND hwndStatus) {
    MinimiseHeap();
    int result = 0;
    if (!Guarded([&] { RunPostSetup(hwndParentArg, hwndStatus); })) {
        // The shell's unload setting goes back even when the flow was abandoned.
        Guarded([] { SetExplorerUnload(0); });
        Guarded([] { FreeProtectedFolders(); });
        result = 1;
    }
    post_setup_cleanup();
    return result;
}

void post_setup_cleanup(void) {
    Guarded([] { RunCleanup(); });
}

void WINAPI timer_proc(HWND, UINT, UINT_PTR, DWORD) {}

} // extern "C"
