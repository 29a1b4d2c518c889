// The uninstall dialog's entry point and what both forms share: the status
// font and line, the Cancel question, the common buttons and the carrying
// out of the chosen actions.
#include "dialog/dedlg.h"

#include "dialog/list_form.h"
#include "dialog/treeview.h"
#include "dialog/report.h"
#include "dialog/cautions.h"

#include "actions/deaction.h"
#include "common/strings.h"
#include "common/status.h"
#include "common/boxes.h"
#include "files/lists.h"
#include "registry/compare.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/state_reset.h"
#include "common/internal_error.h"
#include "common/library.h"

#include <cstdlib>
#include <cstring>

int TreeviewForm;
DEACTION** ItemActions;
int cItemSlots;
bool fCarryingOut;

namespace {

constexpr char kModule[] = "Dedlg";

// A fault's guard ends the carrying out its stretch began, so that Uninstall
// works again; a new session starts with none.
const bool kCarryingOutReset =
    RegisterStateReset({[] { return StateValue{fCarryingOut}; },
                        [](StateValue mark) { fCarryingOut = mark != 0; }, true});

constexpr int kQuestionChars = 660;
// State of one uninstall dialog, kept as properties of its window: the font
// of its status line and the action whose unknown kind was reported last.
constexpr char kStatusFontProperty[] = "TRUN95 status font";
constexpr char kReportedKindProperty[] = "TRUN95 reported kind";

int CountActions() {
    int cActions = 0;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext)
        ++cActions;
    return cActions;
}

void RunUninstallDialog(HWND hwndOwner) {
    INT_PTR result =
        TreeviewForm ? DialogBoxGuarded(hinstLib, IDD_UNINSTALL_TREE, hwndOwner, TreeDialogProc, 0)
                     : DialogBoxGuarded(hinstLib, IDD_UNINSTALL_LIST, hwndOwner, ListDialogProc, 0);
    if (result == -1)
        InternalErrorMsg(GetResString(IDS_NO_UNINSTALL_DIALOG), kModule, __LINE__);
}

bool BeginsWithFolder(const char* pszPath, const char* pszFolder) {
    size_t cchFolder = std::strlen(pszFolder);
    return cchFolder != 0 && CompareNoCaseN(pszPath, pszFolder, cchFolder) == 0;
}

// Copies the list's check marks into the actions still to be done. False
// (after telling the user) when nothing at all is checked.
bool TakeListSelection(HWND hDlg) {
    HWND hList = GetDlgItem(hDlg, IDC_ITEM_LIST);
    if (SendMessageA(hList, LB_GETSELCOUNT, 0, 0) <= 0) {
        UninstMessageBox("No actions selected - nothing to uninstall", 0);
        return false;
    }
    int cItems = static_cast<int>(SendMessageA(hList, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < cItems && i < cItemSlots; ++i) {
        DEACTION* pact = ItemActions[i];
        if (pact && !pact->fDone)
            pact->fSelected = SendMessageA(hList, LB_GETSEL, i, 0) > 0 ? 1 : 0;
    }
    return true;
}

// Every confirm procedure runs, checked or not; false as soon as one of them
// says the uninstall must not start.
bool RunConfirmPass() {
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->fDone || !pact->pfnConfirm)
            continue;
        int iAnswer = IDOK;
        if (!Guarded([&] { iAnswer = pact->pfnConfirm(pact); })) {
            ReportInternalException(kModule, 2, __LINE__);
            continue;
        }
        if (iAnswer != IDOK && iAnswer != IDYES)
            return false;
    }
    return true;
}

// The failure question; an over-long description is shortened so that the
// question itself is always seen whole.
bool AskContinueAfterFailure(const DEACTION* pact) {
    const char* pszFormat = GetResString(IDS_COULD_NOT_UNINSTALL);
    const char* pszDescription = pact->pszDescription ? pact->pszDescription : "";
    char szShort[kQuestionChars];
    size_t cchRoom = kQuestionChars - 1 - (std::strlen(pszFormat) - 2);
    if (std::strlen(pszDescription) > cchRoom) {
        lstrcpynA(szShort, pszDescription, static_cast<int>(cchRoom - 3 + 1));
        lstrcatA(szShort, "...");
        pszDescription = szShort;
    }
    char szQuestion[kQuestionChars];
    std::snprintf(szQuestion, sizeof szQuestion, pszFormat, pszDescription);
    return ShowLibraryBox(HostBoxOwner(), szQuestion, MB_YESNO | MB_ICONSTOP) == IDYES;
}

// Undoes the checked actions still to be done; false when the user stopped
// after a failure.
bool RunUndoPass() {
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (!pact->fSelected || pact->fDone)
            continue;
        if (!pact->pfnUndo) {
            InternalError(kModule, __LINE__);
            continue;
        }
        int fUndone = 0;
        if (!Guarded([&] { fUndone = pact->pfnUndo(pact); })) {
            ReportInternalException(kModule, 3, __LINE__);
            continue;
        }
        if (fUndone) {
            pact->fDone = 1;
            continue;
        }
        EndBusy();
        if (!AskContinueAfterFailure(pact))
            return false;
    }
    return true;
}

} // namespace

// Exported: the host may run the dialog itself.
extern "C" int __cdecl show_deinstall_dialog(HWND hwndOwner) {
    TreeviewForm = GetPrivateProfileIntA("Tarnel", "UninstallerTreeview", 1, "tarnel32.ini");
    if (!hwndOwner)
        InternalError(kModule, __LINE__);
    cItemSlots = CountActions() + 1;
    ItemActions = static_cast<DEACTION**>(std::calloc(cItemSlots, sizeof(DEACTION*)));
    if (!ItemActions) {
        cItemSlots = 0;
        FatalOutOfMemory();
    }
    bool fFinished = Guarded([&] { RunUninstallDialog(hwndOwner); });
    std::free(ItemActions);
    ItemActions = nullptr;
    cItemSlots = 0;
    if (!fFinished)
        ReportInternalException(kModule, 1, __LINE__);
    return 1;
}

bool StartsChecked(const DEACTION* pact) {
    if (int iSaid = StartsCheckedAsSaid(pact); iSaid >= 0)
        return iSaid == 1;
    if (pact->wKind != DEA_FILE)
        return true;
    return BeginsWithFolder(pact->szObject, WinDir) || BeginsWithFolder(pact->szObject, SysDir);
}

namespace {

int CarryOutChosenActions(HWND hDlg) {
    if (!TreeviewForm && !TakeListSelection(hDlg))
        return 0;
    if (!RunConfirmPass()) {
        UninstMessageBox(GetResString(IDS_NOT_INITIATED), 0);
        return 0;
    }
    BeginBusy();
    if (!RunUndoPass())
        return 0;
    EndBusy();
    return 1;
}

} // namespace

// An exception that leaves the pass leaves the flag set; the guard that
// catches it puts the flag back.
int CarryOutActions(HWND hDlg) {
    if (fCarryingOut)
        return 0;
    fCarryingOut = true;
    int result = CarryOutChosenActions(hDlg);
    fCarryingOut = false;
    return result;
}

void CreateStatusFont(HWND hDlg) {
    HDC hdc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    LOGFONTA lf{};
    lstrcpyA(lf.lfFaceName, "Helv");
    lf.lfHeight = GetDeviceCaps(hdc, LOGPIXELSY) * 8 / -72;
    HFONT hFont = CreateFontIndirectA(&lf);
    if (hFont) {
        DeleteStatusFont(hDlg);
        SetPropA(hDlg, kStatusFontProperty, hFont);
        SendDlgItemMessageA(hDlg, IDC_DIALOG_STATUS, WM_SETFONT, reinterpret_cast<WPARAM>(hFont),
                            FALSE);
    }
    if (hdc)
        DeleteDC(hdc);
}

void DeleteStatusFont(HWND hDlg) {
    if (HANDLE hFont = RemovePropA(hDlg, kStatusFontProperty))
        DeleteObject(hFont);
    RemovePropA(hDlg, kReportedKindProperty);
}

// Control 7008 shows what the item with the focus will do.
void SetDialogStatus(HWND hDlg, const char* pszText) {
    char szShown[1100];
    GetDlgItemTextA(hDlg, IDC_DIALOG_STATUS, szShown, sizeof szShown);
    if (std::strcmp(szShown, pszText) != 0)
        SetDlgItemTextA(hDlg, IDC_DIALOG_STATUS, pszText);
}

void DescribeAction(HWND hDlg, DEACTION* pact) {
    static const char* const pszPrefix = "The selected checkbox will ";
    char szSentence[4096];
    szSentence[0] = '\0';
    const char* pszFormat = nullptr;
    switch (pact->wKind) {
    case DEA_GROUP:
        pszFormat = "%sdelete the program group \"%s\" that was added";
        break;
    case DEA_ICON:
        pszFormat = "%sdelete the icon \"%s\" that was added";
        break;
    case DEA_FOLDER:
        pszFormat = "%sdelete the folder \"%s\" created";
        break;
    case DEA_FILE:
        pszFormat = "%sdelete the file \"%s\" that was created";
        break;
    case DEA_RESTORE:
        pszFormat = "%srestore the file \"%s\" that was altered";
        break;
    case DEA_REGISTRY:
        DescribeRegistryAction(pact, szSentence);
        szSentence[sizeof szSentence - 1] = '\0';
        break;
    default:
        // Reported once: the item is redrawn after the report's box closes.
        if (GetPropA(hDlg, kReportedKindProperty) != pact) {
            SetPropA(hDlg, kReportedKindProperty, pact);
            InternalError(kModule, __LINE__);
        }
        return;
    }
    if (pszFormat)
        std::snprintf(szSentence, sizeof szSentence, pszFormat, pszPrefix, pact->szObject);
    size_t cchUsed = std::strlen(szSentence);
    lstrcpynA(szSentence + cchUsed, GetResString(IDS_BY_INSTALLATION),
              static_cast<int>(sizeof szSentence - cchUsed));
    SetDialogStatus(hDlg, szSentence);
}

bool ConfirmCancel(HWND hDlg) {
    return ShowLibraryBox(hDlg,
                          "Do you want to cancel the Uninstall?  If you choose Yes you will not "
                          "be able to use Tarnel to uninstall this program.",
                          MB_YESNO | MB_ICONQUESTION, "Uninstall") == IDYES;
}

bool HandleCommonCommand(HWND hDlg, WORD wId) {
    switch (wId) {
    case IDC_HELP_BUTTON:
        SendMessageA(hwndParent, WM_TRUN95_HELP_UNINSTALL, 0, 0);
        return true;
    case IDC_REPORT:
        WriteReport(hDlg);
        return true;
    case IDC_CAUTIONS:
        ShowCautions(hDlg);
        return true;
    default:
        return false;
    }
}

void AnswerHelp(HWND hDlg, const HELPINFO* pInfo) {
    auto hwndItem = static_cast<HWND>(pInfo->hItemHandle);
    if (hwndItem == hDlg || IsChild(hDlg, hwndItem))
        HandleCommonCommand(hDlg, IDC_HELP_BUTTON);
}

bool AnswerBusyCursor(HWND hDlg) {
    if (!IsBusy())
        return false;
    SetCursor(LoadCursor(nullptr, IDC_WAIT));
    SetWindowLongPtrA(hDlg, DWLP_MSGRESULT, TRUE);
    return true;
}
