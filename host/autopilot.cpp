#include "host/autopilot.h"

#include "host/progress.h"
#include "resources/resource.h"

#include <algorithm>

namespace {

constexpr DWORD kPollMs = 20;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kSaveFileNameBox = 0x47C;
constexpr char kSelectionCaption[] = "Uninstall";
// An uninstaller that has ended may still leave a child starting up: the
// wait box is answered only after the job has been quiet this long.
constexpr DWORD kSettleMs = 500;
// A wizard page that has just been turned gets this long to show the next
// one before its default button is pressed again.
constexpr DWORD kPageStepMs = 1000;

std::string WindowText(HWND hwnd) {
    char szText[4096] = "";
    GetWindowTextA(hwnd, szText, sizeof szText);
    return szText;
}

std::string LoadText(HMODULE hLibrary, UINT id) {
    char szText[1024] = "";
    LoadStringA(hLibrary, id, szText, sizeof szText);
    return szText;
}

bool IsDialogWindow(HWND hwnd) {
    char szClass[16] = "";
    return GetClassNameA(hwnd, szClass, sizeof szClass) && lstrcmpA(szClass, "#32770") == 0;
}

struct ProcessDialogs {
    std::vector<DWORD> processes;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM lParam) {
    auto* pFound = reinterpret_cast<ProcessDialogs*>(lParam);
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    if (std::ranges::find(pFound->processes, dwProcess) != pFound->processes.end() &&
        IsWindowVisible(hwnd) && IsDialogWindow(hwnd))
        pFound->windows.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> VisibleDialogsOf(std::vector<DWORD> processes) {
    ProcessDialogs found{std::move(processes), {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found.windows;
}

std::vector<HWND> VisibleDialogsOfThisProcess() {
    return VisibleDialogsOf({GetCurrentProcessId()});
}

bool IsMessageBox(HWND hwnd) {
    return GetDlgItem(hwnd, kMessageBoxTextId) != nullptr;
}

bool IsSelectionDialog(HWND hwnd) {
    return GetDlgItem(hwnd, IDC_SELECT_ALL) && GetDlgItem(hwnd, IDC_REPORT) &&
           WindowText(hwnd) == kSelectionCaption;
}

bool IsSaveDialog(HWND hwnd) {
    return GetDlgItem(hwnd, kSaveFileNameBox) != nullptr;
}

BOOL CALLBACK CollectStaticText(HWND hwnd, LPARAM lParam) {
    auto* pTexts = reinterpret_cast<std::string*>(lParam);
    char szClass[16] = "";
    GetClassNameA(hwnd, szClass, sizeof szClass);
    std::string text = WindowText(hwnd);
    // A picture's text is the name of its resource, not words on the screen.
    LONG_PTR lType = GetWindowLongPtrA(hwnd, GWL_STYLE) & SS_TYPEMASK;
    bool fPicture = lType == SS_ICON || lType == SS_BITMAP || lType == SS_ENHMETAFILE;
    if (lstrcmpiA(szClass, "Static") == 0 && !fPicture && !text.empty())
        *pTexts += (pTexts->empty() ? "" : "\n") + text;
    return TRUE;
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

// The button a person would press to go on in a wizard page: the dialog's
// default button, when it can be pressed now; 0 otherwise. The dialog
// belongs to another process, so the question must not wait on a hung one.
int ButtonToGoOn(HWND hDlg) {
    DWORD_PTR dwDefault = 0;
    if (!SendMessageTimeoutA(hDlg, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 1000, &dwDefault) ||
        HIWORD(dwDefault) != DC_HASDEFID)
        return 0;
    int id = LOWORD(dwDefault);
    HWND hButton = GetDlgItem(hDlg, id);
    return hButton && IsWindowVisible(hButton) && IsWindowEnabled(hButton) ? id : 0;
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

std::string DialogStaticTexts(HWND hDlg) {
    std::string texts;
    EnumChildWindows(hDlg, CollectStaticText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

Autopilot::Autopilot(Policy policy, std::string reportPath, LibraryTexts texts,
                     Transcript* pTranscript, const ProcessJob* pJob)
    : policy_(policy), reportPath_(std::move(reportPath)), texts_(std::move(texts)),
      pTranscript_(pTranscript), pJob_(pJob) {}

Autopilot::~Autopilot() {
    Stop();
}

void Autopilot::Start() {
    hThread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

void Autopilot::Stop() {
    if (!hThread_)
        return;
    InterlockedExchange(&fStop_, 1);
    WaitForSingleObject(hThread_, INFINITE);
    CloseHandle(hThread_);
    hThread_ = nullptr;
}

DWORD WINAPI Autopilot::ThreadProc(void* pContext) {
    static_cast<Autopilot*>(pContext)->Run();
    return 0;
}

void Autopilot::Run() {
    while (!fStop_) {
        Step();
        Sleep(kPollMs);
    }
}

void Autopilot::Step() {
    std::erase_if(handled_, [](HWND hwnd) { return !IsWindow(hwnd); });
    std::erase_if(lastPage_, [](const auto& page) { return !IsWindow(page.first); });
    if (hwndSelection_ && !IsWindow(hwndSelection_))
        hwndSelection_ = nullptr;
    FinishWaitingBox();
    ContinueSelection();
    for (HWND hwnd : VisibleDialogsOfThisProcess())
        if (std::find(handled_.begin(), handled_.end(), hwnd) == handled_.end())
            Handle(hwnd);
}

void Autopilot::Handle(HWND hwnd) {
    // A window just shown may still be filling its controls.
    Sleep(kPollMs);
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
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hwnd, id)));
}

void Autopilot::HandleMessageBox(HWND hwnd) {
    std::string caption = WindowText(hwnd);
    char szText[4096] = "";
    GetDlgItemTextA(hwnd, kMessageBoxTextId, szText, sizeof szText);
    std::string text = szText;
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

void Autopilot::FinishWaitingBox() {
    if (!hwndWaitingBox_)
        return;
    if (!IsWindow(hwndWaitingBox_)) {
        hwndWaitingBox_ = nullptr;
        return;
    }
    std::vector<DWORD> uninstaller = pJob_ ? pJob_->OtherProcessIds() : std::vector<DWORD>{};
    if (!uninstaller.empty()) {
        AnswerOwnUninstaller(std::move(uninstaller));
        dwWaitStart_ = GetTickCount();
        return;
    }
    if (GetTickCount() - dwWaitStart_ < kSettleMs)
        return;
    char szText[4096] = "";
    GetDlgItemTextA(hwndWaitingBox_, kMessageBoxTextId, szText, sizeof szText);
    Press(hwndWaitingBox_, IDOK, szText, ButtonLabel(hwndWaitingBox_, IDOK));
    hwndWaitingBox_ = nullptr;
}

// The program's own uninstaller runs in processes of its own; it is driven
// as a person would: Yes or OK to its boxes, and the default button of each
// page of its wizard once that button can be pressed.
void Autopilot::AnswerOwnUninstaller(std::vector<DWORD> processes) {
    for (HWND hwnd : VisibleDialogsOf(std::move(processes))) {
        if (std::find(handled_.begin(), handled_.end(), hwnd) != handled_.end())
            continue;
        if (IsMessageBox(hwnd)) {
            Handle(hwnd);
            continue;
        }
        DWORD dwNow = GetTickCount();
        auto last = lastPage_.find(hwnd);
        if (last != lastPage_.end() && dwNow - last->second < kPageStepMs)
            continue;
        if (int id = ButtonToGoOn(hwnd)) {
            Press(hwnd, id, DialogStaticTexts(hwnd), ButtonLabel(hwnd, id));
            lastPage_[hwnd] = dwNow;
        }
    }
}

void Autopilot::HandleSelectionDialog(HWND hwnd) {
    hwndSelection_ = hwnd;
    ShowProgress("Answering the uninstall dialog");
    // The list is complete and untouched while the dialog waits for its answer.
    if (writeItems_)
        writeItems_();
    if (!reportPath_.empty() && !fReportSaved_) {
        Press(hwnd, IDC_REPORT, DialogStaticTexts(hwnd), ButtonLabel(hwnd, IDC_REPORT));
    }
}

// Goes on with the selection dialog once no report is being written.
void Autopilot::ContinueSelection() {
    if (!hwndSelection_ || SaveDialogOpen())
        return;
    if (!reportPath_.empty() && !fReportSaved_)
        return;
    HWND hwnd = hwndSelection_;
    hwndSelection_ = nullptr;
    std::string text = DialogStaticTexts(hwnd);
    if (UndoesNothing(policy_)) {
        Press(hwnd, IDCANCEL, text, ButtonLabel(hwnd, IDCANCEL));
        return;
    }
    Press(hwnd, IDC_SELECT_ALL, text, ButtonLabel(hwnd, IDC_SELECT_ALL));
    Press(hwnd, IDOK, text, ButtonLabel(hwnd, IDOK));
}

bool Autopilot::SaveDialogOpen() const {
    for (HWND hwnd : VisibleDialogsOfThisProcess())
        if (IsSaveDialog(hwnd))
            return true;
    return false;
}

void Autopilot::HandleSaveDialog(HWND hwnd) {
    if (reportPath_.empty() || fReportSaved_) {
        Press(hwnd, IDCANCEL, "", ButtonLabel(hwnd, IDCANCEL));
        return;
    }
    SetDlgItemTextA(hwnd, kSaveFileNameBox, reportPath_.c_str());
    Press(hwnd, IDOK, reportPath_, ButtonLabel(hwnd, IDOK));
    InterlockedExchange(&fReportSaved_, 1);
}

void Autopilot::HandleUnknownDialog(HWND hwnd) {
    Press(hwnd, IDCANCEL, DialogStaticTexts(hwnd), ButtonLabel(hwnd, IDCANCEL));
}
