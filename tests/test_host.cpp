// The host program's parts: its command line, its transcript, the job that
// follows setup's processes, the unattended autopilot against real message
// boxes and dialogs, and tarnel32.exe itself.
#include "host/autopilot.h"
#include "host/host_window.h"
#include "host/options.h"
#include "host/process_job.h"
#include "host/transcript.h"
#include "resources/resource.h"
#include "support/host_window.h"
#include "support/robot.h"

#include <commdlg.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

std::string TempFile(const char* pszName) {
    char szFolder[MAX_PATH];
    GetTempPathA(sizeof szFolder, szFolder);
    std::string path = std::string(szFolder) + pszName;
    DeleteFileA(path.c_str());
    return path;
}

std::string LibraryString(UINT id) {
    char szText[1024] = "";
    LoadStringA(GetModuleHandleA(nullptr), id, szText, sizeof szText);
    return szText;
}

// ---- command line ----

class HostCommandLine : public testing::Test {
  protected:
    bool Parse(const char* pszArgs) { return ParseHostCommandLine(pszArgs, options, error); }
    HostOptions options;
    std::string error;
};

TEST_F(HostCommandLine, NoArgumentsMeansTheStandaloneSession) {
    ASSERT_TRUE(Parse("   "));
    EXPECT_EQ(options.policy, Policy::Interactive);
    EXPECT_TRUE(options.setupProgram.empty());
}

TEST_F(HostCommandLine, EachPolicyNameSelectsItsPolicy) {
    const std::pair<const char*, Policy> cases[] = {{"all", Policy::All},
                                                    {"own-then-continue", Policy::OwnThenContinue},
                                                    {"own-then-stop", Policy::OwnThenStop},
                                                    {"cancel", Policy::Cancel}};
    for (const auto& [pszName, policy] : cases) {
        ASSERT_TRUE(Parse((std::string("--unattended=") + pszName + " setup.exe").c_str()))
            << error;
        EXPECT_EQ(options.policy, policy) << pszName;
    }
}

TEST_F(HostCommandLine, SetupArgumentsAreHandedOnExactlyAsTyped) {
    ASSERT_TRUE(Parse("--unattended=all --report=C:\\r.txt --transcript=C:\\t.txt "
                      "\"C:\\My Setup\\setup.exe\" /S  /D=C:\\x --report=no"));
    EXPECT_EQ(options.reportPath, "C:\\r.txt");
    EXPECT_EQ(options.transcriptPath, "C:\\t.txt");
    EXPECT_EQ(options.setupProgram, "C:\\My Setup\\setup.exe");
    EXPECT_EQ(options.setupCommandLine, "\"C:\\My Setup\\setup.exe\" /S  /D=C:\\x --report=no");
}

TEST_F(HostCommandLine, MistakesAreRejectedWithAReason) {
    const char* const apszWrong[] = {"--unattended=most setup.exe",  "--unattended=all",
                                     "--report=C:\\r.txt setup.exe", "--unattended=all --report= x",
                                     "--colour=red setup.exe",       "--unattended=all \"\" /S"};
    for (const char* pszArgs : apszWrong) {
        error.clear();
        EXPECT_FALSE(Parse(pszArgs)) << pszArgs;
        EXPECT_FALSE(error.empty()) << pszArgs;
    }
}

TEST_F(HostCommandLine, TheHostsOwnNameIsSkippedQuotedOrNot) {
    EXPECT_STREQ(SkipProgramName("\"C:\\a b\\tarnel32.exe\"  setup.exe /S"), "setup.exe /S");
    EXPECT_STREQ(SkipProgramName("tarnel32.exe"), "");
}

// ---- transcript ----

TEST(HostTranscript, LineBreaksInsideTextsAreWrittenAsEscapes) {
    EXPECT_EQ(
        TranscriptLine("Tarnel Uninstaller", "Could not uninstall item: x\r\nContinue?", "Yes"),
        "Tarnel Uninstaller\tCould not uninstall item: x\\r\\nContinue?\tYes\n");
}

TEST(HostTranscript, LinesAreWrittenInOrderAndTheFileIsRewrittenEachRun) {
    std::string path = TempFile("trun95-transcript.txt");
    {
        Transcript transcript;
        ASSERT_TRUE(transcript.Open(path));
        transcript.Write("old", "", "");
    }
    Transcript transcript;
    ASSERT_TRUE(transcript.Open(path));
    transcript.Write("A", "one\ntwo", "OK");
    transcript.Write("B", "", "Yes");
    EXPECT_EQ(ReadFile(path), "A\tone\\ntwo\tOK\nB\t\tYes\n");
}

TEST(HostTranscript, AnUnwritableFileIsReported) {
    Transcript transcript;
    EXPECT_FALSE(transcript.Open("C:\\no such folder\\t.txt"));
}

// ---- job ----

TEST(HostProcessJob, WineServicesDoNotCountAsSetupProcesses) {
    EXPECT_TRUE(IsSystemServiceImage("C:\\windows\\system32\\explorer.exe"));
    EXPECT_TRUE(IsSystemServiceImage("SERVICES.EXE"));
    EXPECT_FALSE(IsSystemServiceImage("msiexec.exe"));
    EXPECT_FALSE(IsSystemServiceImage("setup.exe"));
}

// A second process that lives for the given time.
PROCESS_INFORMATION StartWaitingChild(const char* pszFileName, int ms) {
    std::string heldFile = TempFile(pszFileName);
    std::ofstream(heldFile) << "held";
    std::string arguments = "hold-file " + heldFile + " " + std::to_string(ms);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = "\"" + BuildPath("trun95_probe.exe") + "\" " + arguments;
    EXPECT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    CloseHandle(pi.hThread);
    return pi;
}

TEST(HostProcessJob, AChildCountsUntilItHasEnded) {
    static ProcessJob job; // a process stays in its job until it ends
    ASSERT_TRUE(job.Enter());
    EXPECT_FALSE(job.HasOtherProcesses());
    PROCESS_INFORMATION pi = StartWaitingChild("trun95-held.txt", 800);
    EXPECT_TRUE(job.HasOtherProcesses());
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    DWORD dwExit = 1;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    EXPECT_EQ(dwExit, 0u); // it held the file for the whole time
    CloseHandle(pi.hProcess);
    EXPECT_FALSE(job.HasOtherProcesses());
}

// ---- autopilot ----

class HostAutopilot : public testing::Test {
  protected:
    void SetUp() override { transcriptPath = TempFile("trun95-autopilot.txt"); }
    void Start(Policy policy, const std::string& reportPath = "",
               const ProcessJob* pJob = nullptr) {
        ASSERT_TRUE(transcript.Open(transcriptPath));
        autopilot = std::make_unique<Autopilot>(
            policy, reportPath, LibraryTexts::Load(GetModuleHandleA(nullptr)), &transcript, pJob);
        autopilot->Start();
    }
    void TearDown() override {
        if (autopilot)
            autopilot->Stop();
    }
    std::vector<std::string> TranscriptLines() {
        std::vector<std::string> lines;
        std::istringstream stream(ReadFile(transcriptPath));
        for (std::string line; std::getline(stream, line);)
            lines.push_back(line);
        return lines;
    }
    int OfferOwnUninstaller() {
        std::string offer = LibraryString(IDS_USE_OWN_UNINSTALLER);
        offer.replace(offer.find("%s"), 2, "AcmeNotes");
        return MessageBoxA(nullptr, offer.c_str(), LibraryString(IDS_UNINSTALL_DETECTED).c_str(),
                           MB_YESNO | MB_ICONQUESTION);
    }
    int AskToContinue() {
        return MessageBoxA(nullptr, LibraryString(IDS_CONTINUE_AFTER_OWN).c_str(),
                           LibraryString(IDS_UNINSTALL_DETECTED).c_str(),
                           MB_YESNO | MB_ICONQUESTION);
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
    std::vector<std::string> lines = TranscriptLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              "Program Uninstall Detected\tThe installed program (AcmeNotes) supports the "
              "Windows 95 system uninstaller.  Do you wish to use its built-in "
              "uninstaller?\tNo");
    EXPECT_EQ(lines[1], "Tarnel Uninstaller\tDelete folder?\tYes");
    EXPECT_EQ(lines[2], "Tarnel Uninstaller\tDone\tOK");
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

TEST_F(HostAutopilot, TheWaitBoxIsAnsweredOnlyAfterTheStartedProgramHasEnded) {
    static ProcessJob job;
    ASSERT_TRUE(job.Enter());
    Start(Policy::OwnThenContinue, "", &job);
    PROCESS_INFORMATION pi = StartWaitingChild("trun95-held2.txt", 1500);
    EXPECT_EQ(MessageBoxA(nullptr, LibraryString(IDS_PRESS_OK_WHEN_DONE).c_str(),
                          LibraryString(IDS_UNINSTALL_DETECTED).c_str(), MB_OK),
              IDOK);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0);
    CloseHandle(pi.hProcess);
}

// A window with the selection dialog's caption and buttons; the report
// button runs the real save-file dialog.
class SelectionStandIn {
  public:
    SelectionStandIn() {
        hwnd_ = CreateWindowExA(0, "#32770", "Uninstall", WS_POPUP | WS_CAPTION | WS_VISIBLE, 10,
                                10, 300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetWindowLongPtrA(hwnd_, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(DialogProc));
        const std::pair<int, const char*> buttons[] = {{IDOK, "&Uninstall"},
                                                       {IDCANCEL, "Cancel"},
                                                       {IDC_SELECT_ALL, "Select &All"},
                                                       {IDC_REPORT, "&Report..."}};
        int y = 5;
        for (const auto& [id, pszText] : buttons)
            CreateWindowA("BUTTON", pszText, WS_CHILD | WS_VISIBLE, 200, y += 25, 80, 20, hwnd_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
        CreateWindowA("STATIC", "&Select Items To Uninstall:", WS_CHILD | WS_VISIBLE, 5, 5, 180, 20,
                      hwnd_, nullptr, nullptr, nullptr);
    }
    // Runs until the stand-in closes.
    void Run() {
        MSG msg;
        DWORD dwStart = GetTickCount();
        while (IsWindow(hwnd_) && GetTickCount() - dwStart < 20000) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                if (!IsDialogMessageA(hwnd_, &msg))
                    DispatchMessageA(&msg);
            Sleep(10);
        }
        if (IsWindow(hwnd_))
            DestroyWindow(hwnd_);
    }
    std::vector<std::string> presses;
    std::string savedTo;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM) {
        auto* pSelf = reinterpret_cast<SelectionStandIn*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (uMsg != WM_COMMAND || !pSelf)
            return FALSE;
        pSelf->OnCommand(LOWORD(wParam));
        return TRUE;
    }
    void OnCommand(int id) {
        if (id == IDC_REPORT) {
            presses.push_back("Report");
            char szFile[520] = "UNINST.TXT";
            OPENFILENAMEA ofn{};
            ofn.lStructSize = sizeof ofn;
            ofn.hwndOwner = hwnd_;
            ofn.lpstrFilter = "Text Files (*.txt)\0*.txt\0";
            ofn.lpstrFile = szFile;
            ofn.nMaxFile = sizeof szFile;
            ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
            if (GetSaveFileNameA(&ofn))
                savedTo = szFile;
        } else if (id == IDC_SELECT_ALL) {
            presses.push_back("SelectAll");
        } else if (id == IDOK) {
            presses.push_back("Uninstall");
            DestroyWindow(hwnd_);
        } else if (id == IDCANCEL) {
            presses.push_back("Cancel");
            if (MessageBoxA(hwnd_, "Do you want to cancel the Uninstall?", "Uninstall",
                            MB_YESNO | MB_ICONQUESTION) == IDYES)
                DestroyWindow(hwnd_);
        }
    }
    HWND hwnd_;
};

TEST_F(HostAutopilot, SelectionDialogGetsReportThenSelectAllThenUninstall) {
    std::string reportPath = TempFile("trun95-report.txt");
    Start(Policy::All, reportPath);
    SelectionStandIn dialog;
    dialog.Run();
    EXPECT_EQ(dialog.presses, (std::vector<std::string>{"Report", "SelectAll", "Uninstall"}));
    EXPECT_EQ(lstrcmpiA(dialog.savedTo.c_str(), reportPath.c_str()), 0) << dialog.savedTo;
    EXPECT_TRUE(autopilot->ReportSaved());
    std::vector<std::string> lines = TranscriptLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Uninstall\t&Select Items To Uninstall:\tReport...");
    EXPECT_EQ(lines[1].rfind("Save As\t" + reportPath + "\t", 0), 0u) << lines[1];
    EXPECT_EQ(lines[3], "Uninstall\t&Select Items To Uninstall:\tUninstall");
}

TEST_F(HostAutopilot, PolicyCancelCancelsTheSelectionAndConfirms) {
    Start(Policy::Cancel);
    SelectionStandIn dialog;
    dialog.Run();
    EXPECT_EQ(dialog.presses, (std::vector<std::string>{"Cancel"}));
    std::vector<std::string> lines = TranscriptLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Uninstall\tDo you want to cancel the Uninstall?\tYes");
}

// ---- main window ----

class HostMainWindow : public testing::Test {
  protected:
    void SetUp() override {
        hwnd = CreateHostWindow(GetModuleHandleA(nullptr), {Ignore, Ignore}, SW_HIDE);
        ASSERT_NE(hwnd, nullptr);
    }
    void TearDown() override {
        DestroyWindow(hwnd);
        // The window ends the host's message loop when it goes: not this one.
        MSG msg;
        PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    static void Ignore(HWND) {}
    HWND hwnd = nullptr;
};

TEST_F(HostMainWindow, BusyNotificationsTurnTheIndicatorOnAndOff) {
    EXPECT_FALSE(HostIsBusy());
    SendMessageA(hwnd, WM_TRUN95_BUSY_BEGIN, 0, 0);
    EXPECT_TRUE(HostIsBusy());
    SendMessageA(hwnd, WM_TRUN95_BUSY_END, 0, 0);
    EXPECT_FALSE(HostIsBusy());
}

TEST_F(HostMainWindow, HelpRequestsOpenAShortHelpForEachDialog) {
    Robot robot;
    robot.ExpectBox("Tarnel32 Help", HelpTextFor(WM_TRUN95_HELP_UNINSTALL), IDOK);
    robot.ExpectBox("Tarnel32 Help", HelpTextFor(WM_TRUN95_HELP_CAUTIONS), IDOK);
    SendMessageA(hwnd, WM_TRUN95_HELP_UNINSTALL, 0, 0);
    SendMessageA(hwnd, WM_TRUN95_HELP_CAUTIONS, 0, 0);
    robot.Finish();
    EXPECT_STRNE(HelpTextFor(WM_TRUN95_HELP_UNINSTALL), HelpTextFor(WM_TRUN95_HELP_CAUTIONS));
}

// ---- tarnel32.exe ----

std::string Tarnel32(const std::string& arguments) {
    return "\"" + BuildPath("tarnel32.exe") + "\" " + arguments;
}

TEST(HostProgram, BadArgumentsAMissingSetupAndAnUnusableReportNameEndWithStatusTwo) {
    EXPECT_EQ(RunProgram(Tarnel32("--unattended=sometimes setup.exe")), 2u);
    EXPECT_EQ(RunProgram(Tarnel32("--unattended=all")), 2u);
    EXPECT_EQ(RunProgram(Tarnel32("--unattended=all C:\\no\\such\\setup.exe")), 2u);
    EXPECT_EQ(RunProgram(Tarnel32("--unattended=all --report=C:\\no\\such\\folder\\r.txt "
                                  "cmd.exe /c exit")),
              2u);
    EXPECT_EQ(RunProgram(Tarnel32("--unattended=all --report=C:\\" + std::string(600, 'r') +
                                  " cmd.exe /c exit")),
              2u);
}

TEST(HostProgram, RunsASessionAroundASetupAndEndsWithStatusZero) {
    std::string transcriptPath = TempFile("trun95-host-run.txt");
    DWORD dwStatus = RunProgram(
        Tarnel32("--unattended=cancel --transcript=" + transcriptPath + " cmd.exe /c exit"),
        300000);
    EXPECT_EQ(dwStatus, 0u);
    // The session's last word is always a box or dialog that was answered.
    EXPECT_FALSE(ReadFile(transcriptPath).empty());
    char szIni[16] = "";
    GetPrivateProfileStringA("Tarnel", "UninstallerTreeview", "", szIni, sizeof szIni,
                             "tarnel32.ini");
    EXPECT_STRNE(szIni, "");
}

TEST(HostProgram, ClosingTheWindowDuringSetupAbandonsTheSessionWithStatusFour) {
    std::string heldFile = TempFile("trun95-setup-held.txt");
    std::ofstream(heldFile) << "held";
    std::string line =
        Tarnel32("\"" + BuildPath("trun95_probe.exe") + "\" hold-file " + heldFile + " 15000");
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    CloseHandle(pi.hThread);
    // The button is enabled once setup runs.
    HWND hwndHost = nullptr;
    for (int i = 0;
         i < 1500 &&
         !(hwndHost && IsWindowEnabled(FindWindowExA(hwndHost, nullptr, "BUTTON", nullptr)));
         ++i) {
        Sleep(20);
        hwndHost = FindWindowA("Tarnel32Host", nullptr);
    }
    ASSERT_NE(hwndHost, nullptr);
    EXPECT_NE(GlobalFindAtomA("Tarnel Uninstall Is Running"), 0);
    PostMessageA(hwndHost, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD dwStatus = 0;
    GetExitCodeProcess(pi.hProcess, &dwStatus);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(dwStatus, 4u);
    EXPECT_EQ(GlobalFindAtomA("Tarnel Uninstall Is Running"), 0);
}

} // namespace
