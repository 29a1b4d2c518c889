// The host's unattended autopilot against real message boxes and dialogs.
#include "host/autopilot.h"
#include "common/escape.h"
#include "host/options.h"
#include "host/process_job.h"
#include "host/transcript.h"
#include "common/strings.h"
#include "resources/resource.h"
#include "session/exports.h"
#include "support/dialog_session.h"
#include "support/test_host_window.h"
#include "support/prefix_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

class HostAutopilot : public testing::Test {
  protected:
    void SetUp() override { transcriptPath = TempFile("trun95-autopilot.txt"); }
    void Start(Policy policy, const std::string& reportPath = "", const ProcessJob* pJob = nullptr,
               GiveUpHandler onGiveUp = {}) {
        ASSERT_TRUE(transcript.Open(transcriptPath));
        autopilot = std::make_unique<Autopilot>(
            policy, reportPath, LibraryTexts::Load(GetModuleHandleA(nullptr)), &transcript, pJob);
        // Bounded like a user's run, far beyond what any case here takes.
        autopilot->SetGiveUp(GetTickCount(), 120000, std::move(onGiveUp));
        ASSERT_TRUE(autopilot->Start());
    }
    void TearDown() override {
        if (autopilot)
            autopilot->Stop();
    }
    std::vector<std::string> TranscriptLines() {
        std::vector<std::string> lines;
        std::istringstream stream(ReadTextFile(transcriptPath));
        for (std::string line; std::getline(stream, line);)
            lines.push_back(line);
        return lines;
    }
    int OfferOwnUninstaller() {
        std::string offer = GetResString(IDS_USE_OWN_UNINSTALLER);
        offer.replace(offer.find("%s"), 2, "AcmeNotes");
        return MessageBoxA(nullptr, offer.c_str(), GetResString(IDS_UNINSTALL_DETECTED),
                           MB_YESNO | MB_ICONQUESTION);
    }
    int AskToContinue() {
        return MessageBoxA(nullptr, GetResString(IDS_CONTINUE_AFTER_OWN),
                           GetResString(IDS_UNINSTALL_DETECTED), MB_YESNO | MB_ICONQUESTION);
    }
    std::string transcriptPath;
    Transcript transcript;
    std::unique_ptr<Autopilot> autopilot;
};

TEST_F(HostAutopilot, PolicyAllDeclinesTheOwnUninstallerAndConfirmsEverything) {
    Start(Policy::All);
    EXPECT_EQ(OfferOwnUninstaller(), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Delete folder?", "Tarnel Uninstaller", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "Done", "Tarnel Uninstaller", MB_OK), IDOK);
    EXPECT_EQ(
        TranscriptLines(),
        (std::vector<std::string>{
            "Program Uninstall Detected\tThe installed program (AcmeNotes) supports the "
            "Windows 95 system uninstaller.  Do you wish to use its built-in uninstaller?\tNo",
            "Tarnel Uninstaller\tDelete folder?\tYes", "Tarnel Uninstaller\tDone\tOK"}));
}

TEST_F(HostAutopilot, OwnPoliciesAcceptTheOwnUninstallerAndAnswerTheContinueQuestion) {
    Start(Policy::OwnThenContinue);
    EXPECT_EQ(OfferOwnUninstaller(), IDYES);
    EXPECT_EQ(AskToContinue(), IDYES);
    autopilot->Stop();
    Start(Policy::OwnThenStop);
    EXPECT_EQ(OfferOwnUninstaller(), IDYES);
    EXPECT_EQ(AskToContinue(), IDNO);
}

// A dialog that takes no press: pressed, pressed once more, then given up
// with every open window written down.
INT_PTR CALLBACK IgnoreEveryPress(HWND, UINT uMsg, WPARAM, LPARAM) {
    return uMsg == WM_COMMAND;
}

TEST_F(HostAutopilot, AWindowThatTakesNoPressIsPressedTwiceThenTheRunIsGivenUp) {
    HWND hDlg = CreateWindowExA(0, "#32770", "Stubborn", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0,
                                200, 100, nullptr, nullptr, nullptr, nullptr);
    CreateWindowExA(0, "Static", "Nothing happens", WS_CHILD | WS_VISIBLE, 0, 0, 150, 20, hDlg,
                    nullptr, nullptr, nullptr);
    CreateWindowExA(0, "Button", "&Close", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 30, 80, 24,
                    hDlg, reinterpret_cast<HMENU>(IDCANCEL), nullptr, nullptr);
    SetWindowLongPtrA(hDlg, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(IgnoreEveryPress));
    std::string reason;
    volatile LONG fGivenUp = 0;
    Start(Policy::All, "", nullptr, [&](const std::string& text) {
        reason = text;
        InterlockedExchange(&fGivenUp, 1);
    });
    DWORD dwStart = GetTickCount();
    for (MSG msg; !fGivenUp && GetTickCount() - dwStart < 30000; Sleep(10))
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    DestroyWindow(hDlg);
    ASSERT_TRUE(fGivenUp);
    EXPECT_EQ(reason, "the window \"Stubborn\" did not respond to pressing Close");
    EXPECT_EQ(TranscriptLines(),
              (std::vector<std::string>{
                  "Stubborn\tNothing happens\tClose", "Stubborn\tNothing happens\tClose",
                  "Stubborn\tNothing happens\tnot answered; buttons: Close"}));
}

// A dialog that notes whether Cancel reached it while a box of its own was
// open in front of it.
bool fBoxInFront = false;
int cCancelsBehindBox = 0, cCancels = 0;
INT_PTR CALLBACK NoteCancel(HWND, UINT uMsg, WPARAM wParam, LPARAM) {
    if (uMsg != WM_COMMAND || LOWORD(wParam) != IDCANCEL)
        return FALSE;
    ++cCancels;
    cCancelsBehindBox += fBoxInFront;
    return TRUE;
}

// The box stands in front of the dialog for the half second that the wait
// for the own uninstaller's end takes; the dialog is pressed only after it.
TEST_F(HostAutopilot, AWindowBehindABoxOfItsOwnIsPressedOnlyOnceTheBoxIsAnswered) {
    HWND hDlg =
        CreateWindowExA(0, "#32770", "Strange", WS_POPUP | WS_CAPTION | WS_VISIBLE | WS_DISABLED, 0,
                        0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    CreateWindowExA(0, "Button", "Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 30, 80, 24,
                    hDlg, reinterpret_cast<HMENU>(IDCANCEL), nullptr, nullptr);
    SetWindowLongPtrA(hDlg, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(NoteCancel));
    Start(Policy::All);
    fBoxInFront = true;
    EXPECT_EQ(MessageBoxA(hDlg, GetResString(IDS_PRESS_OK_WHEN_DONE),
                          GetResString(IDS_UNINSTALL_DETECTED), MB_OK),
              IDOK);
    fBoxInFront = false;
    EnableWindow(hDlg, TRUE);
    DWORD dwStart = GetTickCount();
    for (MSG msg; cCancels == 0 && GetTickCount() - dwStart < 20000; Sleep(10))
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    DestroyWindow(hDlg);
    EXPECT_EQ(cCancelsBehindBox, 0);
    EXPECT_EQ(cCancels, 1);
}

// The library's selection dialog in its list form, holding one folder.
class HostAutopilotSelection : public HostAutopilot {
  protected:
    void SetUp() override {
        HostAutopilot::SetUp();
        session.ChooseForm("0");
        session.Add(DEA_FOLDER, "Folder \"C:\\App\\\"", "C:\\App\\");
    }
    // The dialog's caption and static texts as the transcript shows them:
    // the line below the list tells what the item with the focus does, until
    // a press has moved the focus to a button.
    static constexpr char kDialog[] =
        "Uninstall\t&Select Items To Uninstall:\\nThe selected checkbox will delete the folder "
        "\"C:\\\\App\\\\\" created by the installation process.\t";
    static constexpr char kDialogAfterPress[] =
        "Uninstall\t&Select Items To Uninstall:\\nOnly items that are checked will be "
        "uninstalled\t";
    HostWindow host;
    DialogSession session{host};
};

// The "Save As" dialog's list of recent folders, with one entry of the user's.
class RecentFolders {
  public:
    RecentFolders() {
        RegCreateKeyA(HKEY_CURRENT_USER, kSaveDialogRecentFolders, &hKey_);
        for (const char* pszName : {"a", "b", "c", "MRUList"})
            RegDeleteValueA(hKey_, pszName);
        RegSetValueExA(hKey_, "a", 0, REG_SZ, reinterpret_cast<const BYTE*>("mine"), 5);
    }
    ~RecentFolders() { RegCloseKey(hKey_); }
    // True when the list holds only the user's entry, as before.
    bool AsBefore() const {
        DWORD cValues = 0, cbData = 16;
        char szData[16] = "";
        RegQueryInfoKeyA(hKey_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &cValues,
                         nullptr, nullptr, nullptr, nullptr);
        RegQueryValueExA(hKey_, "a", nullptr, nullptr, reinterpret_cast<BYTE*>(szData), &cbData);
        return cValues == 1 && std::string(szData) == "mine";
    }

  private:
    HKEY hKey_ = nullptr;
};

TEST_F(HostAutopilotSelection, SelectionDialogGetsReportThenSelectAllThenUninstall) {
    std::string reportPath = TempFile("trun95-report.txt");
    RecentFolders recentFolders;
    Start(Policy::All, reportPath);
    show_deinstall_dialog(host.hwnd());
    EXPECT_EQ(journal, (std::vector<std::string>{"undo C:\\App\\"}));
    EXPECT_TRUE(autopilot->ReportSaved());
    EXPECT_NE(ReadTextFile(reportPath).find("Folder \"C:\\App\\\"\r\n"), std::string::npos);
    EXPECT_TRUE(recentFolders.AsBefore());
    const std::string dialog = kDialogAfterPress;
    EXPECT_EQ(TranscriptLines(),
              (std::vector<std::string>{std::string(kDialog) + "Report...",
                                        "Save As\t" + EscapeField(reportPath) + "\tSave",
                                        dialog + "Select All", dialog + "Uninstall"}));
}

TEST_F(HostAutopilotSelection, AReportThatCannotBeWrittenIsNotMarkedSavedAndTheUninstallGoesOn) {
    std::string reportPath = TempFile("trun95-locked-report.txt");
    HANDLE hLocked = CreateFileA(reportPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(hLocked, INVALID_HANDLE_VALUE);
    Start(Policy::All, reportPath);
    show_deinstall_dialog(host.hwnd());
    CloseHandle(hLocked);
    EXPECT_EQ(journal, (std::vector<std::string>{"undo C:\\App\\"}));
    EXPECT_FALSE(autopilot->ReportSaved());
    EXPECT_TRUE(autopilot->ReportFailed());
    std::vector<std::string> lines = TranscriptLines();
    EXPECT_NE(std::ranges::find_if(lines,
                                   [](const std::string& line) {
                                       return line.starts_with("Tarnel Uninstaller\tCould not "
                                                               "write the report");
                                   }),
              lines.end());
    EXPECT_EQ(lines.back(), std::string(kDialogAfterPress) + "Uninstall");
}

TEST_F(HostAutopilotSelection, PolicyCancelCancelsTheSelectionAndConfirms) {
    Start(Policy::Cancel);
    show_deinstall_dialog(host.hwnd());
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ(TranscriptLines(),
              (std::vector<std::string>{
                  std::string(kDialog) + "Cancel",
                  "Uninstall\tDo you want to cancel the Uninstall?  If you choose Yes you will not "
                  "be able to use Tarnel to uninstall this program.\tYes"}));
}

} // namespace
