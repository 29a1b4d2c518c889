// The host program: monitors one setup program with TRUN95.dll and offers to
// undo what it did.
//   tarnel32 [SETUP.EXE [ARGS...]]
//   tarnel32 --unattended=POLICY [--report=FILE] [--transcript=FILE] [--items=FILE]
//            [--footprint-items=FILE] [--quiet] [--timeout=SECONDS] SETUP.EXE [ARGS...]
//   tarnel32 [...] --install-log=LOGS [--name=NAME] SETUP.EXE [ARGS...]
//   tarnel32 [...] --uninstall-log=FOLDER
// Exit status: 0 the session ran to its end, 1 it was abandoned by a failure,
// 2 bad arguments or a setup program that cannot be started, 3 the library
// could not be loaded or the session could not begin, 4 the user closed the
// host before setup had finished (the session was abandoned), 5 the
// unattended run was given up: its time ran out or a window did not take a
// press (the session was abandoned), 6 the install log to uninstall was
// refused (damaged or of another format version; nothing was undone).
#include "host/autopilot.h"
#include "host/host_window.h"
#include "host/library.h"
#include "host/options.h"
#include "host/process_job.h"
#include "host/progress.h"
#include "host/transcript.h"

#include <windows.h>

#include <memory>
#include <string>

namespace {

enum ExitStatus {
    kExitDone = 0,
    kExitAbandoned = 1,
    kExitBadArguments = 2,
    kExitNoSession = 3,
    kExitClosedDuringSetup = 4,
    kExitGivenUp = 5,
    kExitLogRefused = 6
};

constexpr int kErrorChars = 1024;

// How long a given-up run waits for the main thread to abandon the session
// before it does so itself.
constexpr DWORD kGiveUpGraceMs = 30000;

struct HostState {
    HostOptions options;
    Trun95Library library;
    ProcessJob job;
    Transcript transcript;
    std::unique_ptr<Autopilot> autopilot;
    std::string setupFolder; // setup starts in its own folder
    HWND hwnd = nullptr;     // the main window
    DWORD dwStarted = GetTickCount();
    HANDLE hSetupWatch = nullptr;
    HANDLE hSetupProcess = nullptr; // setup's own first process
    volatile LONG fStopWatch = 0;
    bool fSetupDone = false;
    bool fSessionOpen = false; // from pre_setup_save until the session has ended
    // Every way through the session sets its own status; a window closed
    // before the session began leaves this one.
    int exitStatus = kExitNoSession;
};

HostState g_host;

void WriteError(const std::string& message) {
    std::string line = "tarnel32: " + message + "\n";
    DWORD cbWritten = 0;
    HANDLE hError = GetStdHandle(STD_ERROR_HANDLE);
    if (hError && hError != INVALID_HANDLE_VALUE)
        WriteFile(hError, line.data(), static_cast<DWORD>(line.size()), &cbWritten, nullptr);
    else // started from a desktop, with nowhere to write to
        MessageBoxA(nullptr, message.c_str(), "Tarnel32", MB_OK | MB_ICONHAND);
}

// The full path of the setup program, or the empty text when there is none.
std::string FindSetupProgram(const std::string& program) {
    char szFound[MAX_PATH] = "";
    DWORD cch = SearchPathA(nullptr, program.c_str(), ".exe", sizeof szFound, szFound, nullptr);
    if (cch == 0 || cch >= sizeof szFound)
        return "";
    DWORD dwAttributes = GetFileAttributesA(szFound);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return "";
    return szFound;
}

std::string FolderOf(const std::string& path) {
    size_t iSlash = path.find_last_of("\\/");
    return iSlash == std::string::npos ? std::string() : path.substr(0, iSlash + 1);
}

// The library's save dialog takes names of fewer than 520 characters and
// insists on an existing folder; a name it refuses would leave the dialog
// open with nobody to answer it.
constexpr size_t kMaxReportPath = 519;

bool ReportPathUsable(const std::string& path) {
    if (path.size() > kMaxReportPath || path.back() == '\\' || path.back() == '/')
        return false;
    std::string folder = FolderOf(path);
    if (folder.empty())
        return true;
    DWORD dwAttributes = GetFileAttributesA(folder.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

constexpr DWORD kSetupWatchStopMs = 10000;

// Waits on its own thread until setup and every process it started have
// ended, then tells the main window.
DWORD WINAPI WatchSetup(void* pContext) {
    HWND hwnd = static_cast<HWND>(pContext);
    while (!g_host.fStopWatch && g_host.job.HasOtherProcesses())
        Sleep(200);
    if (!g_host.fStopWatch)
        PostMessageA(hwnd, WM_HOST_SETUP_DONE, 0, 0);
    return 0;
}

void StopSetupWatch() {
    if (!g_host.hSetupWatch)
        return;
    InterlockedExchange(&g_host.fStopWatch, 1);
    // The thread looks at the flag five times a second; past the bound it is
    // left to the process's end.
    if (WaitForSingleObject(g_host.hSetupWatch, kSetupWatchStopMs) == WAIT_TIMEOUT)
        WriteError("the thread that waits for setup did not stop");
    CloseHandle(g_host.hSetupWatch);
    g_host.hSetupWatch = nullptr;
}

// Starts setup and the thread that waits for it; the thread first, so that
// a setup is never left without anyone waiting for its end. Returns the exit
// status of a failure, or kExitDone.
int StartSetup(HWND hwnd, std::string& error) {
    g_host.hSetupWatch = CreateThread(nullptr, 0, WatchSetup, hwnd, CREATE_SUSPENDED, nullptr);
    if (!g_host.hSetupWatch) {
        error = "cannot start the thread that waits for setup";
        return kExitNoSession;
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string commandLine = g_host.options.setupCommandLine;
    const char* pszFolder = g_host.setupFolder.empty() ? nullptr : g_host.setupFolder.c_str();
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, pszFolder,
                        &si, &pi)) {
        error = "cannot start " + g_host.options.setupProgram;
        InterlockedExchange(&g_host.fStopWatch, 1);
        ResumeThread(g_host.hSetupWatch);
        StopSetupWatch();
        return kExitBadArguments;
    }
    CloseHandle(pi.hThread);
    g_host.hSetupProcess = pi.hProcess;
    if (g_host.autopilot)
        g_host.autopilot->WatchSetup(pi.hProcess);
    ResumeThread(g_host.hSetupWatch);
    return kExitDone;
}

void EndHost(HWND hwnd, int exitStatus) {
    // The last line tells how long the whole session took, its undo included.
    ShowProgress("The session has ended");
    g_host.exitStatus = exitStatus;
    DestroyWindow(hwnd);
}

// The uninstall of a program from its install log: one call, which
// offers and carries out everything, as after setup.
void UninstallFromLog(HWND hwnd) {
    SetHostPhase(hwnd, "Uninstalling from the install log...");
    g_host.fSessionOpen = true;
    char szError[kErrorChars] = "";
    int result = g_host.library.pfnUninstallFromLog(
        hwnd, HostStatusLine(hwnd), g_host.options.uninstallLog.c_str(), szError, sizeof szError);
    g_host.fSessionOpen = false;
    if (szError[0])
        WriteError(std::string("the install log was refused: ") + szError + "; nothing was undone");
    EndHost(hwnd, result == 6 ? kExitLogRefused : result == 3 ? kExitNoSession : result);
}

void OnStart(HWND hwnd) {
    Trun95Library& library = g_host.library;
    if (library.pfnAlreadyRunning()) {
        WriteError("another uninstall session is running");
        EndHost(hwnd, kExitNoSession);
        return;
    }
    if (!g_host.options.uninstallLog.empty()) {
        UninstallFromLog(hwnd);
        return;
    }
    SetHostPhase(hwnd, "Taking the first snapshot...");
    // Open already while the first snapshot is taken: a run given up then
    // must abandon the session too.
    g_host.fSessionOpen = true;
    if (!library.pfnPreSetupSave(hwnd, HostStatusLine(hwnd))) {
        g_host.fSessionOpen = false;
        WriteError("the session could not begin (Windows 95 mode is needed)");
        EndHost(hwnd, kExitNoSession);
        return;
    }
    std::string error;
    if (int status = StartSetup(hwnd, error); status != kExitDone) {
        g_host.fSessionOpen = false;
        library.pfnPostSetupCleanup();
        WriteError(error);
        EndHost(hwnd, status);
        return;
    }
    SetHostPhase(hwnd, "Setup is running. Press the button when it has finished.");
    EnableSetupDoneButton(hwnd, TRUE);
}

void OnSetupDone(HWND hwnd) {
    if (g_host.fSetupDone)
        return;
    g_host.fSetupDone = true;
    EnableSetupDoneButton(hwnd, FALSE);
    StopSetupWatch();
    SetHostPhase(hwnd, "Setup has finished: looking for what it changed...");
    const HostOptions& options = g_host.options;
    if (options.installLogs.empty()) {
        int result = g_host.library.pfnPostSetupUninstall(hwnd, HostStatusLine(hwnd));
        g_host.fSessionOpen = false;
        EndHost(hwnd, result == 1 ? kExitAbandoned : kExitDone);
        return;
    }
    char szError[kErrorChars] = "";
    int result = g_host.library.pfnSaveInstallLog(
        hwnd, HostStatusLine(hwnd), options.installLogs.c_str(), options.logName.c_str(),
        options.setupCommandLine.c_str(), szError, sizeof szError);
    g_host.fSessionOpen = false;
    if (szError[0])
        WriteError(std::string("the install log was not saved: ") + szError);
    EndHost(hwnd, result == 0 ? kExitDone : kExitAbandoned);
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return g_host.exitStatus;
}

// Ends a given-up run: what setup or an uninstaller still runs is ended,
// the session abandoned so that the next one can start, and the process
// ends at once, from inside whatever dialog the library has open.
[[noreturn]] void AbandonAndExit() {
    // Presses still queued must not reach the library's dialogs while the
    // session is freed.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) {
    }
    // Setup ends here because it is ended: that is no finished setup to
    // compare, which the cleanup's message pump would otherwise start.
    InterlockedExchange(&g_host.fStopWatch, 1);
    g_host.fSetupDone = true;
    g_host.job.EndOtherProcesses();
    if (g_host.fSessionOpen)
        g_host.library.pfnPostSetupCleanup();
    ExitProcess(kExitGivenUp);
}

void OnGiveUp(HWND) {
    AbandonAndExit();
}

// On the autopilot's thread: the main thread abandons the session, from
// whatever it waits in; if it does not answer, this thread does.
void GiveUpRun(const std::string& reason) {
    WriteError(reason + "; the session is abandoned");
    DWORD_PTR dwIgnored = 0;
    SendMessageTimeoutA(g_host.hwnd, WM_HOST_GIVE_UP, 0, 0, SMTO_NORMAL, kGiveUpGraceMs,
                        &dwIgnored);
    AbandonAndExit();
}

void WriteItemList() {
    if (!g_host.library.pfnWriteItemList(g_host.options.itemsPath.c_str()))
        WriteError("cannot write the item list " + g_host.options.itemsPath);
}

// An empty item list before the session: a session with nothing to offer
// shows no selection dialog, and its list stays empty.
bool StartItemList(const std::string& path) {
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(hFile);
    return true;
}

// The session writes the footprint only once it has compared: a list left
// from an earlier run must not pass for this one's, so none is there until
// then.
bool StartFootprint(const std::string& path) {
    if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    return g_host.library.pfnWriteFootprintItems(path.c_str()) != 0;
}

bool StartAutopilot() {
    HostOptions& options = g_host.options;
    if (options.policy == Policy::Interactive)
        return true;
    g_host.autopilot = std::make_unique<Autopilot>(options.policy, options.reportPath,
                                                   LibraryTexts::Load(g_host.library.hModule),
                                                   &g_host.transcript, &g_host.job);
    if (!options.uninstallLog.empty())
        g_host.autopilot->KeepOfferedSelection();
    if (options.setupPolicy == SetupPolicy::Answer)
        g_host.autopilot->AnswerSetupWindows();
    if (!options.itemsPath.empty())
        g_host.autopilot->OnSelection([] { WriteItemList(); });
    // The time counts from the host's start, not from the autopilot's.
    g_host.autopilot->SetGiveUp(g_host.dwStarted, options.timeoutSeconds * 1000, GiveUpRun);
    return g_host.autopilot->Start();
}

// Whether the install log's name reached the host as typed: the library keeps
// logs in the ANSI code page, and a name it cannot carry would be saved as
// another one, under which nobody would look for it.
bool LogNameFitsAnsiCodePage(const std::string& name) {
    int cch = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (cch <= 0)
        return false;
    std::wstring wide(cch - 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide.data(), cch);
    std::wstring typed = GetCommandLineW();
    std::erase(typed, L'"');
    return typed.find(L"--name=" + wide) != std::wstring::npos;
}

// Everything that can be checked before the first snapshot is taken.
int Prepare() {
    std::string error;
    if (!ParseHostCommandLine(SkipProgramName(GetCommandLineA()), g_host.options, error)) {
        WriteError(error + "\n" + HostUsage());
        return kExitBadArguments;
    }
    const HostOptions& options = g_host.options;
    if (!options.logName.empty() && !LogNameFitsAnsiCodePage(options.logName)) {
        WriteError("the name given with --name holds characters that this system's ANSI code "
                   "page cannot write, in which install logs are kept; choose another name");
        return kExitBadArguments;
    }
    if (!options.setupProgram.empty()) {
        std::string found = FindSetupProgram(options.setupProgram);
        if (found.empty()) {
            WriteError("setup program not found: " + options.setupProgram);
            return kExitBadArguments;
        }
        g_host.setupFolder = FolderOf(found);
        // The host changes its folder later: setup is started by its full path.
        HostOptions& changed = g_host.options;
        changed.setupCommandLine =
            "\"" + found + "\"" + changed.setupCommandLine.substr(changed.setupProgram.size() + 2);
    }
    if (!options.reportPath.empty() && !ReportPathUsable(options.reportPath)) {
        WriteError("the report cannot be saved as " + options.reportPath +
                   " (its folder must exist and the name be at most " +
                   std::to_string(kMaxReportPath) + " characters)");
        return kExitBadArguments;
    }
    if (!options.transcriptPath.empty() && !g_host.transcript.Open(options.transcriptPath)) {
        WriteError("cannot write the transcript " + options.transcriptPath);
        return kExitBadArguments;
    }
    if (!options.itemsPath.empty() && !StartItemList(options.itemsPath)) {
        WriteError("cannot write the item list " + options.itemsPath);
        return kExitBadArguments;
    }
    bool fCheck = !options.itemsPath.empty() || !options.footprintPath.empty() ||
                  !options.installLogs.empty() || !options.uninstallLog.empty();
    if (!(fCheck ? g_host.library.LoadToolsLibrary() : g_host.library.Load())) {
        WriteError(std::string(fCheck ? "trun95check.dll" : "TRUN95.dll") +
                   " could not be loaded from the host's folder, or one of its entry points "
                   "is missing or not at its ordinal");
        return kExitNoSession;
    }
    if (!options.footprintPath.empty() && !StartFootprint(options.footprintPath)) {
        WriteError("cannot write the footprint list " + options.footprintPath);
        return kExitBadArguments;
    }
    if (options.policy != Policy::Interactive && !options.fQuiet)
        EnableProgress();
    return kExitDone;
}

int RunSession(HINSTANCE hInstance, int nCmdShow) {
    if (!g_host.job.Enter()) {
        WriteError("cannot follow the processes of setup (no job object)");
        return kExitNoSession;
    }
    HWND hwnd = CreateHostWindow(hInstance, {OnStart, OnSetupDone, OnGiveUp}, nCmdShow);
    if (!hwnd) {
        WriteError("cannot create the main window");
        return kExitNoSession;
    }
    g_host.hwnd = hwnd;
    if (!StartAutopilot()) {
        WriteError("cannot start the unattended user (no thread)");
        DestroyWindow(hwnd);
        return kExitNoSession;
    }
    PostMessageA(hwnd, WM_HOST_START, 0, 0);
    int exitStatus = RunMessageLoop();
    StopSetupWatch();
    if (g_host.fSessionOpen) {
        // The window was closed while setup ran: give up the session so that
        // the next one can start.
        g_host.library.pfnPostSetupCleanup();
        exitStatus = kExitClosedDuringSetup;
    }
    if (g_host.autopilot) {
        if (!g_host.autopilot->Stop()) {
            // Left to the process's end rather than freed under its thread.
            WriteError("the unattended user did not stop; its last step is left unfinished");
            (void)g_host.autopilot.release();
            return exitStatus;
        }
        if (g_host.autopilot->ReportFailed())
            WriteError("the report could not be saved as " + g_host.options.reportPath);
    }
    if (g_host.hSetupProcess)
        CloseHandle(g_host.hSetupProcess);
    return exitStatus;
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
    int status = Prepare();
    if (status != kExitDone)
        return status;
    WriteHostIni();
    // The library looks for its monitor driver in the current folder first.
    SetCurrentDirectoryA(HostFolder().c_str());
    if (g_host.options.setupProgram.empty() && g_host.options.uninstallLog.empty()) {
        g_host.library.pfnUninstallStandalone();
        return kExitDone;
    }
    return RunSession(hInstance, nCmdShow);
}
