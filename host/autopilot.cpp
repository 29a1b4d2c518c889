// The unattended user: its thread finds the windows of the session and of
// setup, answers them by its policy and gives the run up when it is stuck.
#include "host/autopilot.h"

#include "host/found_windows.h"
#include "host/host_window.h"
#include "host/progress.h"
#include "resources/resource.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD kPollMs = 20;
constexpr int kSaveFileNameBox = 0x47C;
constexpr char kSelectionCaption[] = "Uninstall";
// An uninstaller that has ended may still leave a child starting up: the
// wait box is answered only after the job has been quiet this long.
constexpr DWORD kSettleMs = 500;
// A wizard page that has just been turned gets this long to show the next
// one before its default button is pressed again.
constexpr DWORD kPageStepMs = 1000;
// A press shows its effect within this time (the window ends, a box or the
// next page appears, the library gets busy), or it is pressed once more; a
// second press without effect means the run is stuck.
constexpr DWORD kPressEffectMs = 5000;
// A step ends within seconds (each wait on a window is bounded, closing
// what setup left takes up to ten); a thread that has not stopped by then
// is stuck.
constexpr DWORD kStopWaitMs = 30000;
// What setup left running is looked at this often: each look opens every
// process of the job.
constexpr DWORD kLeftLookMs = 250;

std::string LoadText(HMODULE hLibrary, UINT id) {
    char szText[1024] = "";
    LoadStringA(hLibrary, id, szText, sizeof szText);
    return szText;
}

bool IsSelectionDialog(HWND hwnd) {
    return GetDlgItem(hwnd, IDC_SELECT_ALL) && GetDlgItem(hwnd, IDC_REPORT) &&
           WindowText(hwnd) == kSelectionCaption;
}

bool IsSaveDialog(HWND hwnd) {
    return GetDlgItem(hwnd, kSaveFileNameBox) != nullptr;
}

// What a person sees of a window's controls: the text of each visible one
// and whether it can be used. A wizard that turns a page changes it.
BOOL CALLBACK CollectLook(HWND hwnd, LPARAM lParam) {
    if (IsWindowVisible(hwnd))
        *reinterpret_cast<std::string*>(lParam) +=
            WindowText(hwnd, kWindowTextWaitMs) + (IsWindowEnabled(hwnd) ? "\n" : " (disabled)\n");
    return TRUE;
}

std::string WindowLook(HWND hwnd) {
    std::string look;
    EnumChildWindows(hwnd, CollectLook, reinterpret_cast<LPARAM>(&look));
    return look;
}

// Presses a button as a click does: the focus moves to the button first, so
// the dialog sees the button and not the control that had the focus (Enter
// on a collapsed category of the tree form expands it instead).
void PressLikeAPerson(HWND hwnd, int id) {
    HWND hButton = GetDlgItem(hwnd, id);
    if (hButton)
        PostMessageA(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hButton), TRUE);
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(hButton));
}

bool IsOfThisProcess(HWND hwnd) {
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    return dwProcess == GetCurrentProcessId();
}

// The size and time of last change of a file, or nothing when it is missing.
std::optional<std::pair<ULONGLONG, ULONGLONG>> StampOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    ULARGE_INTEGER time{{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime}};
    return std::make_pair((ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow, time.QuadPart);
}

// The most careful answer a box offers.
int CautiousAnswer(HWND hwnd) {
    for (int id : {IDNO, IDCANCEL, IDOK})
        if (GetDlgItem(hwnd, id))
            return id;
    return IDOK;
}

// Yes to a confirmation, OK to a notice.
int AgreeingAnswer(HWND hwnd) {
    return GetDlgItem(hwnd, IDYES) ? IDYES : GetDlgItem(hwnd, IDOK) ? IDOK : CautiousAnswer(hwnd);
}

// The dialog's default button, when it can be pressed now; 0 otherwise. The
// dialog belongs to another process, so the question must not wait on a
// hung one.
int DefaultButton(HWND hDlg) {
    DWORD_PTR dwDefault = 0;
    if (!SendMessageTimeoutA(hDlg, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 1000, &dwDefault) ||
        HIWORD(dwDefault) != DC_HASDEFID)
        return 0;
    int id = LOWORD(dwDefault);
    HWND hButton = GetDlgItem(hDlg, id);
    return hButton && IsWindowVisible(hButton) && IsWindowEnabled(hButton) ? id : 0;
}

bool StartsWithNoCase(const std::string& text, const char* pszStart) {
    size_t cch = std::strlen(pszStart);
    return text.size() >= cch &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, text.data(),
                          static_cast<int>(cch), pszStart, static_cast<int>(cch)) == CSTR_EQUAL;
}

// A page whose default button is Cancel is gone on with the button that
// leads forward, as a person reads the labels.
int ForwardButton(HWND hDlg) {
    static const char* const apszForward[] = {"Next", "Install", "I Agree", "Finish"};
    for (HWND hChild = GetWindow(hDlg, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(hChild);
        std::string label = ButtonLabel(hDlg, id);
        char szClass[16] = "";
        GetClassNameA(hChild, szClass, sizeof szClass);
        if (lstrcmpiA(szClass, "Button") == 0 && IsWindowVisible(hChild) &&
            IsWindowEnabled(hChild) && std::ranges::any_of(apszForward, [&](const char* psz) {
                return StartsWithNoCase(label, psz);
            }))
            return id;
    }
    return 0;
}

// The button a person would press to go on in a wizard page: the default
// button, or the one leading forward when that is Cancel; 0 while none can
// be pressed.
int ButtonToGoOn(HWND hDlg) {
    int id = DefaultButton(hDlg);
    return id == IDCANCEL ? ForwardButton(hDlg) : id;
}

struct LicenceBox {
    HWND hwnd = nullptr;
    std::string label;
};

// An unticked box or option that accepts a licence ("I accept the terms"),
// anywhere in the page; a "do not accept" option is never one.
BOOL CALLBACK FindLicenceBox(HWND hwnd, LPARAM lParam) {
    char szClass[16] = "";
    GetClassNameA(hwnd, szClass, sizeof szClass);
    LONG type = GetWindowLongA(hwnd, GWL_STYLE) & BS_TYPEMASK;
    bool fTickable = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                     type == BS_AUTORADIOBUTTON;
    if (lstrcmpiA(szClass, "Button") != 0 || !fTickable || !IsWindowVisible(hwnd) ||
        !IsWindowEnabled(hwnd))
        return TRUE;
    std::string label = WindowText(hwnd, 1000);
    CharLowerBuffA(label.data(), static_cast<DWORD>(label.size()));
    DWORD_PTR dwCheck = BST_CHECKED;
    SendMessageTimeoutA(hwnd, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 1000, &dwCheck);
    if (dwCheck == BST_UNCHECKED && label.find("not") == std::string::npos &&
        (label.find("accept") != std::string::npos || label.find("agree") != std::string::npos)) {
        *reinterpret_cast<LicenceBox*>(lParam) = {hwnd, WindowText(hwnd, 1000)};
        return FALSE;
    }
    return TRUE;
}

} // namespace

LibraryTexts LibraryTexts::Load(HMODULE hLibrary) {
    LibraryTexts texts;
    texts.ownUninstallerTitle = LoadText(hLibrary, IDS_UNINSTALL_DETECTED);
    texts.ownUninstallerOffer = LoadText(hLibrary, IDS_USE_OWN_UNINSTALLER);
    texts.ownUninstallerOffer.resize(
        std::min(texts.ownUninstallerOffer.find("%s"), texts.ownUninstallerOffer.size()));
    texts.continueAfterOwn = LoadText(hLibrary, IDS_CONTINUE_AFTER_OWN);
    texts.pressOkWhenDone = LoadText(hLibrary, IDS_PRESS_OK_WHEN_DONE);
    return texts;
}

std::string ButtonLabel(HWND hDlg, int id) {
    std::string label = WindowText(GetDlgItem(hDlg, id));
    std::erase(label, '&');
    return label;
}

Autopilot::Autopilot(Policy policy, std::string reportPath, LibraryTexts texts,
                     Transcript* pTranscript, const ProcessJob* pJob)
    : policy_(policy), reportPath_(std::move(reportPath)), texts_(std::move(texts)),
      pTranscript_(pTranscript), pJob_(pJob) {}

Autopilot::~Autopilot() {
    Stop();
}

void Autopilot::SetGiveUp(DWORD dwStarted, DWORD dwTimeoutMs, GiveUpHandler onGiveUp) {
    dwStarted_ = dwStarted;
    dwTimeoutMs_ = dwTimeoutMs;
    onGiveUp_ = std::move(onGiveUp);
}

bool Autopilot::Start() {
    hThread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    return hThread_ != nullptr;
}

bool Autopilot::Stop() {
    if (!hThread_)
        return true;
    InterlockedExchange(&fStop_, 1);
    if (WaitForSingleObject(hThread_, kStopWaitMs) == WAIT_TIMEOUT)
        return false;
    CloseHandle(hThread_);
    hThread_ = nullptr;
    return true;
}

DWORD WINAPI Autopilot::ThreadProc(void* pContext) {
    static_cast<Autopilot*>(pContext)->Run();
    return 0;
}

void Autopilot::Run() {
    while (!fStop_ && !fGaveUp_) {
        if (GetTickCount() - dwStarted_ >= dwTimeoutMs_)
            GiveUp("the unattended run did not end within " + std::to_string(dwTimeoutMs_ / 1000) +
                   " seconds");
        else
            Step();
        Sleep(kPollMs);
    }
}

void Autopilot::Step() {
    std::erase_if(handled_, [](HWND hwnd) { return !IsWindow(hwnd); });
    std::erase_if(lastPage_, [](const auto& page) { return !IsWindow(page.first); });
    if (hwndSelection_ && !IsWindow(hwndSelection_))
        hwndSelection_ = nullptr;
    CheckPresses();
    if (fGaveUp_ || !DecideReport())
        return;
    CloseWhatSetupLeft();
    AnswerSetup();
    FinishWaitingBox();
    ContinueSelection();
    // A window behind a box of its own waits until the box is answered: a
    // person cannot press it, and a press would run inside the box's loop.
    for (HWND hwnd : VisibleDialogsOfThisProcess())
        if (std::find(handled_.begin(), handled_.end(), hwnd) == handled_.end() &&
            IsWindowEnabled(hwnd))
            Handle(hwnd);
}

// This process and those of the job: setup, or a program's own uninstaller.
std::vector<DWORD> Autopilot::WatchedProcesses() const {
    std::vector<DWORD> processes = pJob_ ? pJob_->OtherProcessIds() : std::vector<DWORD>{};
    processes.push_back(GetCurrentProcessId());
    return processes;
}

bool Autopilot::PressTookEffect(HWND hwnd, const PendingPress& press) const {
    if (!IsWindow(hwnd) || !IsWindowVisible(hwnd) || (!press.fBusyThen && HostIsBusy()))
        return true;
    for (HWND hwndNow : VisibleDialogsOf(WatchedProcesses()))
        if (std::ranges::find(press.windowsThen, hwndNow) == press.windowsThen.end())
            return true;
    // The library's dialogs change their texts as the focus moves; only a
    // wizard of another process shows its next page in the same window.
    return !IsOfThisProcess(hwnd) && WindowLook(hwnd) != press.look;
}

void Autopilot::CheckPresses() {
    for (auto it = pending_.begin(); it != pending_.end();) {
        auto& [hwnd, press] = *it;
        if (PressTookEffect(hwnd, press)) {
            it = pending_.erase(it);
            continue;
        }
        if (GetTickCount() - press.dwPressed >= kPressEffectMs && IsWindowEnabled(hwnd)) {
            if (press.fRepeated) {
                GiveUp("the window \"" + WindowText(hwnd, kWindowTextWaitMs) +
                       "\" did not respond to pressing " + press.answer);
                return;
            }
            if (pTranscript_)
                pTranscript_->Write(WindowText(hwnd), press.text, press.answer);
            PressLikeAPerson(hwnd, press.id);
            press.dwPressed = GetTickCount();
            press.fRepeated = true;
        }
        ++it;
    }
}

// Writes one line per window still open (caption, texts, buttons) and hands
// the run to the give-up handler.
void Autopilot::GiveUp(const std::string& reason) {
    fGaveUp_ = true;
    for (HWND hwnd : VisibleWindowsOf(WatchedProcesses(), false)) {
        std::string buttons = DialogButtonLabels(hwnd, kWindowTextWaitMs);
        if (pTranscript_)
            pTranscript_->Write(WindowText(hwnd, kWindowTextWaitMs),
                                DialogStaticTexts(hwnd, kWindowTextWaitMs),
                                "not answered" + (buttons.empty() ? "" : "; buttons: " + buttons));
    }
    recentFolders_.PutBack();
    if (onGiveUp_)
        onGiveUp_(reason);
}

void Autopilot::Handle(HWND hwnd) {
    // A window just shown may still be filling its controls.
    WaitUntilWindowIdle(hwnd, kWindowTextWaitMs);
    handled_.push_back(hwnd);
    if (IsMessageBox(hwnd))
        HandleMessageBox(hwnd);
    else if (IsSelectionDialog(hwnd))
        HandleSelectionDialog(hwnd);
    else if (IsSaveDialog(hwnd))
        HandleSaveDialog(hwnd);
    else
        HandleUnknownDialog(hwnd);
}

void Autopilot::Press(HWND hwnd, int id, const std::string& text, const std::string& answer) {
    if (pTranscript_)
        pTranscript_->Write(WindowText(hwnd), text, answer);
    PendingPress press{id,
                       text,
                       answer,
                       GetTickCount(),
                       IsOfThisProcess(hwnd) ? std::string() : WindowLook(hwnd),
                       VisibleDialogsOf(WatchedProcesses()),
                       HostIsBusy(),
                       false};
    PressLikeAPerson(hwnd, id);
    pending_[hwnd] = std::move(press);
}

void Autopilot::HandleMessageBox(HWND hwnd) {
    std::string caption = WindowText(hwnd);
    std::string text = MessageBoxText(hwnd);
    if (!texts_.ownUninstallerTitle.empty() && caption == texts_.ownUninstallerTitle) {
        HandleOwnUninstallerBox(hwnd, text);
        return;
    }
    // Every confirmation is answered Yes (the Cancel question too, which
    // only comes when this autopilot pressed Cancel); a notice with OK.
    int id = AgreeingAnswer(hwnd);
    Press(hwnd, id, text, ButtonLabel(hwnd, id));
}

void Autopilot::HandleOwnUninstallerBox(HWND hwnd, const std::string& text) {
    bool fOwn = AcceptsOwnUninstaller(policy_);
    int id;
    if (!GetDlgItem(hwnd, IDYES)) {
        ShowProgress("The program's own uninstaller is running");
        // Held until the program's own uninstaller and what it started are gone.
        hwndWaitingBox_ = hwnd;
        dwWaitStart_ = GetTickCount();
        return;
    } else if (text == texts_.continueAfterOwn) {
        id = policy_ == Policy::OwnThenStop ? IDNO : IDYES;
    } else if (text.rfind(texts_.ownUninstallerOffer, 0) == 0) {
        id = fOwn ? IDYES : IDNO;
    } else {
        id = CautiousAnswer(hwnd);
    }
    Press(hwnd, id, text, ButtonLabel(hwnd, id));
}

// Setup counts as done once its first process has ended and what it left
// running has sat idle: a person would now close those programs.
void Autopilot::CloseWhatSetupLeft() {
    if (HANDLE hSetup = hSetupToWatch_.exchange(nullptr))
        leftPrograms_.emplace(hSetup);
    if (!leftPrograms_ || GetTickCount() - dwLeftLooked_ < kLeftLookMs)
        return;
    dwLeftLooked_ = GetTickCount();
    std::vector<DWORD> processes = pJob_ ? pJob_->OtherProcessIds() : std::vector<DWORD>{};
    if (processes.empty() && WaitForSingleObject(leftPrograms_->Setup(), 0) == WAIT_OBJECT_0) {
        leftPrograms_.reset(); // setup has ended with everything it started
        return;
    }
    if (!leftPrograms_->Idle(std::move(processes)))
        return;
    leftPrograms_.reset();
    for (const ClosedProgram& program : CloseLikeAPerson(pJob_->OtherProcessIds())) {
        std::string line = "closed the program setup started: " + program.image;
        ShowProgress(line);
        if (pTranscript_)
            pTranscript_->Write(program.caption, line, program.fEnded ? "ended" : "Close");
    }
}

void Autopilot::FinishWaitingBox() {
    if (!hwndWaitingBox_)
        return;
    if (!IsWindow(hwndWaitingBox_)) {
        hwndWaitingBox_ = nullptr;
        return;
    }
    std::vector<DWORD> uninstaller = pJob_ ? pJob_->OtherProcessIds() : std::vector<DWORD>{};
    if (!uninstaller.empty()) {
        DriveProgramWindows(std::move(uninstaller), false);
        dwWaitStart_ = GetTickCount();
        return;
    }
    if (GetTickCount() - dwWaitStart_ < kSettleMs || !IsWindowEnabled(hwndWaitingBox_))
        return;
    Press(hwndWaitingBox_, IDOK, MessageBoxText(hwndWaitingBox_),
          ButtonLabel(hwndWaitingBox_, IDOK));
    hwndWaitingBox_ = nullptr;
}

// The program's own uninstaller, or setup, runs in processes of its own; it
// is driven as a person would: its boxes answered (Yes or OK for the own
// uninstaller's, the default button for setup's), the button that goes on
// in each page of its wizard once it can be pressed, and an unticked licence
// box ticked when nothing else lets the page go on.
void Autopilot::DriveProgramWindows(std::vector<DWORD> processes, bool fDefaultForBoxes) {
    for (HWND hwnd : VisibleDialogsOf(std::move(processes))) {
        if (std::find(handled_.begin(), handled_.end(), hwnd) != handled_.end() ||
            pending_.contains(hwnd) || !IsWindowEnabled(hwnd))
            continue;
        if (IsMessageBox(hwnd) && !fDefaultForBoxes) {
            Handle(hwnd);
            continue;
        }
        if (IsMessageBox(hwnd)) {
            WaitUntilWindowIdle(hwnd, kWindowTextWaitMs);
            handled_.push_back(hwnd);
            int id = DefaultButton(hwnd) ? DefaultButton(hwnd) : AgreeingAnswer(hwnd);
            Press(hwnd, id, MessageBoxText(hwnd), ButtonLabel(hwnd, id));
            continue;
        }
        DWORD dwNow = GetTickCount();
        auto last = lastPage_.find(hwnd);
        if (last != lastPage_.end() && dwNow - last->second < kPageStepMs)
            continue;
        if (int id = ButtonToGoOn(hwnd)) {
            Press(hwnd, id, DialogStaticTexts(hwnd), ButtonLabel(hwnd, id));
            lastPage_[hwnd] = dwNow;
        } else if (TickLicenceBox(hwnd)) {
            lastPage_[hwnd] = dwNow;
        }
    }
}

bool Autopilot::TickLicenceBox(HWND hDlg) {
    LicenceBox box;
    EnumChildWindows(hDlg, FindLicenceBox, reinterpret_cast<LPARAM>(&box));
    if (!box.hwnd)
        return false;
    if (pTranscript_)
        pTranscript_->Write(WindowText(hDlg), box.label, "ticked");
    PostMessageA(box.hwnd, BM_CLICK, 0, 0);
    return true;
}

// Setup's own windows while setup runs, with --setup=answer.
void Autopilot::AnswerSetup() {
    if (!fAnswerSetup_ || !leftPrograms_ || !pJob_)
        return;
    std::vector<DWORD> processes = pJob_->OtherProcessIds();
    if (!processes.empty())
        DriveProgramWindows(std::move(processes), true);
}

void Autopilot::HandleSelectionDialog(HWND hwnd) {
    hwndSelection_ = hwnd;
    ShowProgress("Answering the uninstall dialog");
    // The list is complete and untouched while the dialog waits for its answer.
    if (writeItems_)
        writeItems_();
    if (!reportPath_.empty() && reportState_ == ReportState::NotAsked) {
        reportState_ = ReportState::Asked;
        Press(hwnd, IDC_REPORT, DialogStaticTexts(hwnd), ButtonLabel(hwnd, IDC_REPORT));
    }
}

// Goes on with the selection dialog once no report is being written and no
// box stands in front of it (its presses would run inside the box's loop).
void Autopilot::ContinueSelection() {
    if (!hwndSelection_ || !IsWindowEnabled(hwndSelection_) || SaveDialogOpen() || MessageBoxOpen())
        return;
    if (reportState_ == ReportState::Asked || reportState_ == ReportState::Saving)
        return;
    HWND hwnd = hwndSelection_;
    hwndSelection_ = nullptr;
    std::string text = DialogStaticTexts(hwnd);
    if (UndoesNothing(policy_)) {
        Press(hwnd, IDCANCEL, text, ButtonLabel(hwnd, IDCANCEL));
        return;
    }
    if (!fKeepOffered_)
        Press(hwnd, IDC_SELECT_ALL, text, ButtonLabel(hwnd, IDC_SELECT_ALL));
    Press(hwnd, IDOK, text, ButtonLabel(hwnd, IDOK));
}

bool Autopilot::SaveDialogOpen() const {
    return std::ranges::any_of(VisibleDialogsOfThisProcess(), IsSaveDialog);
}

bool Autopilot::MessageBoxOpen() const {
    return std::ranges::any_of(VisibleDialogsOfThisProcess(), IsMessageBox);
}

void Autopilot::HandleSaveDialog(HWND hwnd) {
    if (reportState_ != ReportState::Asked) {
        Press(hwnd, IDCANCEL, "", ButtonLabel(hwnd, IDCANCEL));
        return;
    }
    recentFolders_.Keep(HKEY_CURRENT_USER, kSaveDialogRecentFolders);
    reportBefore_ = StampOf(reportPath_);
    hwndSave_ = hwnd;
    reportState_ = ReportState::Saving;
    SetDlgItemTextA(hwnd, kSaveFileNameBox, reportPath_.c_str());
    Press(hwnd, IDOK, reportPath_, ButtonLabel(hwnd, IDOK));
}

// Once the "Save As" dialog has ended and the library has written the file
// (or shown why it could not), tells whether the report was saved, and puts
// back the dialog's list of recent folders. False while that is not known:
// a box shown meanwhile must be seen here before it is answered.
bool Autopilot::DecideReport() {
    if (reportState_ != ReportState::Saving || IsWindow(hwndSave_))
        return true;
    DWORD_PTR dwIgnored = 0;
    if (hwndSelection_ &&
        !SendMessageTimeoutA(hwndSelection_, WM_NULL, 0, 0, SMTO_NORMAL, kPollMs * 5, &dwIgnored))
        return false; // the library is still writing
    FileStamp reportNow = StampOf(reportPath_);
    bool fWritten = reportNow && reportNow != reportBefore_ && !MessageBoxOpen();
    reportState_ = fWritten ? ReportState::Saved : ReportState::Failed;
    recentFolders_.PutBack();
    return true;
}

void Autopilot::HandleUnknownDialog(HWND hwnd) {
    Press(hwnd, IDCANCEL, DialogStaticTexts(hwnd), ButtonLabel(hwnd, IDCANCEL));
}
