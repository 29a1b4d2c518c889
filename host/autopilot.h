// The unattended mode: a thread of the host that answers the library's
// message boxes and dialogs from outside, as a person at the screen would,
// following one policy. The library does not know it is there.
#pragma once

#include "host/options.h"
#include "host/process_job.h"
#include "host/transcript.h"

#include <windows.h>

#include <functional>
#include <map>
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

class Autopilot {
  public:
    Autopilot(Policy policy, std::string reportPath, LibraryTexts texts, Transcript* pTranscript,
              const ProcessJob* pJob);
    ~Autopilot();
    Autopilot(const Autopilot&) = delete;
    Autopilot& operator=(const Autopilot&) = delete;

    void Start();
    void Stop();
    // Called when the selection dialog appears, before anything is answered.
    void OnSelection(std::function<void()> writeItems) { writeItems_ = std::move(writeItems); }
    // True once the report has been saved through the "Save As" dialog.
    bool ReportSaved() const { return fReportSaved_ != 0; }

  private:
    static DWORD WINAPI ThreadProc(void* pContext);
    void Run();
    void Step();
    void Handle(HWND hwnd);
    void HandleMessageBox(HWND hwnd);
    void HandleOwnUninstallerBox(HWND hwnd, const std::string& text);
    void HandleSelectionDialog(HWND hwnd);
    void ContinueSelection();
    void HandleSaveDialog(HWND hwnd);
    void HandleUnknownDialog(HWND hwnd);
    void FinishWaitingBox();
    void AnswerOwnUninstaller(std::vector<DWORD> processes);
    void Press(HWND hwnd, int id, const std::string& text, const std::string& answer);
    bool SaveDialogOpen() const;

    Policy policy_;
    std::string reportPath_;
    LibraryTexts texts_;
    Transcript* pTranscript_;
    const ProcessJob* pJob_;
    HANDLE hThread_ = nullptr;
    volatile LONG fStop_ = 0;
    volatile LONG fReportSaved_ = 0;
    std::vector<HWND> handled_;
    HWND hwndSelection_ = nullptr;  // the selection dialog, while the report is written
    HWND hwndWaitingBox_ = nullptr; // "press OK when done", while the uninstaller runs
    DWORD dwWaitStart_ = 0;
    std::map<HWND, DWORD> lastPage_;
    std::function<void()> writeItems_; // when a wizard page of the own uninstaller was turned
};

// The button's text without its ampersand, as a person reads it.
std::string ButtonLabel(HWND hDlg, int id);
// The texts of a dialog's static controls, joined by line breaks.
std::string DialogStaticTexts(HWND hDlg);
