// The unattended mode: a thread of the host that answers the library's
// message boxes and dialogs from outside, as a person at the screen would,
// following one policy. The library does not know it is there.
#pragma once

#include "host/kept_key.h"
#include "host/left_programs.h"
#include "host/options.h"
#include "host/process_job.h"
#include "host/transcript.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What the autopilot needs to recognise the library's windows: the texts of
// the library's own string table.
struct LibraryTexts {
    std::string ownUninstallerTitle; // "Program Uninstall Detected"
    std::string ownUninstallerOffer; // the offer up to the program's name
    std::string continueAfterOwn;    // the question after the own uninstaller
    std::string pressOkWhenDone;     // the box that waits for the own uninstaller
    static LibraryTexts Load(HMODULE hLibrary);
};

// Called once, on the autopilot's thread, when the run is given up (its time
// is up, or a window did not take a press), after every window still open has
// been written to the transcript.
using GiveUpHandler = std::function<void(const std::string& reason)>;

class Autopilot {
  public:
    Autopilot(Policy policy, std::string reportPath, LibraryTexts texts, Transcript* pTranscript,
              const ProcessJob* pJob);
    ~Autopilot();
    Autopilot(const Autopilot&) = delete;
    Autopilot& operator=(const Autopilot&) = delete;

    // Gives the run up when it has not ended dwTimeoutMs after the tick count
    // dwStarted.
    void SetGiveUp(DWORD dwStarted, DWORD dwTimeoutMs, GiveUpHandler onGiveUp);
    // False when the autopilot's thread cannot be started.
    bool Start();
    // False when the thread did not stop within its bound: it still runs,
    // and the object must then outlive it.
    bool Stop();
    // The uninstall of an install log: Uninstall takes the offered selection,
    // as Select All would tick what was held back for changing since install.
    void KeepOfferedSelection() { fKeepOffered_ = true; }
    // Setup's own first process, started: once it has ended, what it left
    // running is closed when it has gone idle. The handle stays the caller's.
    void WatchSetup(HANDLE hSetup) { hSetupToWatch_ = hSetup; }
    // --setup=answer: setup's own boxes get their default button and its
    // wizard pages are driven as the own uninstaller's, while setup runs.
    void AnswerSetupWindows() { fAnswerSetup_ = true; }
    // Called when the selection dialog appears, before anything is answered.
    void OnSelection(std::function<void()> writeItems) { writeItems_ = std::move(writeItems); }
    // True once the report has been written through the "Save As" dialog.
    bool ReportSaved() const { return reportState_ == ReportState::Saved; }
    bool ReportFailed() const { return reportState_ == ReportState::Failed; }

  private:
    enum class ReportState { NotAsked, Asked, Saving, Saved, Failed };
    // A press whose effect has not been seen yet.
    struct PendingPress {
        int id;
        std::string text, answer;
        DWORD dwPressed;
        std::string look;              // the window's controls when it was pressed
        std::vector<HWND> windowsThen; // the dialogs open when it was pressed
        bool fBusyThen;                // whether the library was busy then
        bool fRepeated;
    };
    using FileStamp = std::optional<std::pair<ULONGLONG, ULONGLONG>>;

    static DWORD WINAPI ThreadProc(void* pContext);
    void Run();
    void Step();
    std::vector<DWORD> WatchedProcesses() const;
    bool PressTookEffect(HWND hwnd, const PendingPress& press) const;
    void CheckPresses();
    void GiveUp(const std::string& reason);
    bool DecideReport();
    void Handle(HWND hwnd);
    void HandleMessageBox(HWND hwnd);
    void HandleOwnUninstallerBox(HWND hwnd, const std::string& text);
    void HandleSelectionDialog(HWND hwnd);
    void ContinueSelection();
    void HandleSaveDialog(HWND hwnd);
    void HandleUnknownDialog(HWND hwnd);
    void CloseWhatSetupLeft();
    void FinishWaitingBox();
    void AnswerSetup();
    void DriveProgramWindows(std::vector<DWORD> processes, bool fDefaultForBoxes);
    bool TickLicenceBox(HWND hDlg);
    void Press(HWND hwnd, int id, const std::string& text, const std::string& answer);
    bool SaveDialogOpen() const;
    bool MessageBoxOpen() const;

    Policy policy_;
    std::string reportPath_;
    LibraryTexts texts_;
    Transcript* pTranscript_;
    const ProcessJob* pJob_;
    DWORD dwTimeoutMs_ = kDefaultTimeoutSeconds * 1000;
    GiveUpHandler onGiveUp_;
    HANDLE hThread_ = nullptr;
    DWORD dwStarted_ = GetTickCount();
    volatile LONG fStop_ = 0;
    bool fGaveUp_ = false;
    std::atomic<ReportState> reportState_ = ReportState::NotAsked;
    HWND hwndSave_ = nullptr;       // the "Save As" dialog in which the report's name was given
    FileStamp reportBefore_;        // the report file before it was saved
    KeptRegistryKey recentFolders_; // what the "Save As" dialog writes when it saves
    std::vector<HWND> handled_;
    std::map<HWND, PendingPress> pending_;
    HWND hwndSelection_ = nullptr;  // the selection dialog, while the report is written
    HWND hwndWaitingBox_ = nullptr; // "press OK when done", while the uninstaller runs
    DWORD dwWaitStart_ = 0;
    std::map<HWND, DWORD> lastPage_;   // when a wizard page of the own uninstaller was turned
    std::function<void()> writeItems_; // writes the item list when the selection appears
    bool fKeepOffered_ = false;
    bool fAnswerSetup_ = false;
    std::atomic<HANDLE> hSetupToWatch_ = nullptr;   // given by the main thread
    std::optional<LeftProgramsWatch> leftPrograms_; // while setup runs
    DWORD dwLeftLooked_ = 0;                        // when it was last looked at
};

// The button's text without its ampersand, as a person reads it.
std::string ButtonLabel(HWND hDlg, int id);
