// The uninstall dialog's entry and its list form: which form opens, the
// starting check marks, Cancel, and the carrying out with its confirm
// questions and failures.
#include "support/uninstall_dialog_test.h"

#include "common/status.h"
#include "files/lists.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

constexpr char kTitle[] = "Tarnel Uninstaller";
// WM_KEYF1: what the system makes of a press of F1.
constexpr UINT kKeyF1 = 0x004D;

using DialogTest = UninstallDialogTest;

TEST_F(DialogTest, IniValueChoosesTheForm) {
    session.Add(DEA_FOLDER, "Folder \"C:\\App\\\"", "C:\\App\\");
    for (auto [pszValue, pszForm] :
         {std::pair<const char*, const char*>{nullptr, "tree"}, {"0", "list"}, {"7", "tree"}}) {
        session.ChooseForm(pszValue);
        std::string form;
        RunThenCancel([&form](HWND hDlg) {
            form = GetDlgItem(hDlg, IDC_ITEM_TREE)   ? "tree"
                   : GetDlgItem(hDlg, IDC_ITEM_LIST) ? "list"
                                                     : "?";
        });
        EXPECT_EQ(form, pszForm) << (pszValue ? pszValue : "no file");
    }
}

class ListFormTest : public UninstallDialogTest {
  protected:
    void SetUp() override {
        UninstallDialogTest::SetUp();
        session.ChooseForm("0");
    }
    static std::vector<int> Checks(HWND hDlg) {
        HWND hList = GetDlgItem(hDlg, IDC_ITEM_LIST);
        std::vector<int> checks;
        int cItems = static_cast<int>(SendMessageA(hList, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < cItems; ++i)
            checks.push_back(SendMessageA(hList, LB_GETSEL, i, 0) > 0 ? 1 : 0);
        return checks;
    }
    // The dialog, once shown, is ended by pressing Uninstall.
    void ExpectUninstallPressed() {
        script.Expect("Uninstall", [](HWND hDlg) { PressButton(hDlg, IDOK); });
    }
};

TEST_F(ListFormTest, CreatedFilesStartCheckedOnlyInsideTheWindowsFoldersAndOnlyCheckedAreUndone) {
    std::string mixed = session.WindowsFolder();
    for (size_t i = 0; i < mixed.size(); i += 2)
        mixed[i] = static_cast<char>(toupper(static_cast<unsigned char>(mixed[i])));
    session.Add(DEA_FILE, "File \"b.exe\"", "C:\\App\\b.exe");
    session.Add(DEA_FILE, "File \"a.dll\"", mixed + "a.dll");
    session.Add(DEA_FOLDER, "Folder \"C:\\App\\\"", "C:\\App\\");
    session.Add(DEA_FILE, "File \"system\"", std::string(SysDir) + "c.dll");
    std::vector<int> checks;
    std::vector<std::string> texts;
    bool fHasCautions = true;
    std::string label;
    script.Expect("Uninstall", [&](HWND hDlg) {
        Settle(hDlg);
        checks = Checks(hDlg);
        for (int i = 0; i < static_cast<int>(checks.size()); ++i) {
            char szText[300] = "";
            SendDlgItemMessageA(hDlg, IDC_ITEM_LIST, LB_GETTEXT, i,
                                reinterpret_cast<LPARAM>(szText));
            texts.push_back(szText);
        }
        fHasCautions = GetDlgItem(hDlg, IDC_CAUTIONS) != nullptr;
        label = WindowText(GetDlgItem(hDlg, IDC_ITEMS_LABEL));
        PressButton(hDlg, IDOK);
    });
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    // The items keep the order of the action list; only checked ones are undone.
    EXPECT_EQ(texts, (std::vector<std::string>{"File \"b.exe\"", "File \"a.dll\"",
                                               "Folder \"C:\\App\\\"", "File \"system\""}));
    EXPECT_EQ(checks, (std::vector<int>{0, 1, 1, 1}));
    EXPECT_EQ(journal, (std::vector<std::string>{"undo " + mixed + "a.dll", "undo C:\\App\\",
                                                 "undo " + std::string(SysDir) + "c.dll"}));
    EXPECT_FALSE(fHasCautions);
    EXPECT_EQ(label, "&Select Items To Uninstall:");
}

// Nothing checked is refused; with the first folder checked the unchecked
// file is asked about too, and nothing after the refusal runs. Cancel
// answered No keeps the dialog.
TEST_F(ListFormTest, NothingCheckedIsRefusedAConfirmAnsweredNoStopsBeforeAnyUndoAndNoKeepsIt) {
    session.Add(DEA_FILE, "File \"b.exe\"", "C:\\App\\b.exe", ConfirmYes);
    session.Add(DEA_FOLDER, "Folder \"C:\\App\\\"", "C:\\App\\", ConfirmNo);
    session.Add(DEA_FOLDER, "Folder \"C:\\Two\\\"", "C:\\Two\\", ConfirmCancel);
    bool fOpenAfterNo = false;
    RunThenCancel(
        [&](HWND hDlg) {
            SendDlgItemMessageA(hDlg, IDC_ITEM_LIST, LB_SETSEL, FALSE, -1);
            PressButton(hDlg, IDOK);
            script.WaitForWindows(2);
            Settle(hDlg);
            SendDlgItemMessageA(hDlg, IDC_ITEM_LIST, LB_SETSEL, TRUE, 1);
            PressButton(hDlg, IDOK);
            script.WaitForWindows(3);
            PressButton(hDlg, IDCANCEL);
            script.WaitForWindows(4);
            fOpenAfterNo = IsWindowVisible(hDlg) != FALSE;
        },
        {{kTitle, "No actions selected - nothing to uninstall", IDOK},
         {kTitle, "Uninstall was not initiated", IDOK},
         {"Uninstall", kCancelQuestion, IDNO}});
    EXPECT_TRUE(fOpenAfterNo);
    EXPECT_EQ(journal, (std::vector<std::string>{"confirm C:\\App\\b.exe", "confirm C:\\App\\"}));
}

TEST_F(ListFormTest, UndoFailureAnsweredYesGoesOnAndItsQuestionShortensAnOverlongItem) {
    std::string description = "Folder \"C:\\" + std::string(600, 'x') + "\"";
    DEACTION* first = session.Add(DEA_FOLDER, "Folder one", "one");
    DEACTION* failing = session.Add(DEA_FOLDER, description, "two", nullptr, UndoFails);
    DEACTION* last = session.Add(DEA_FOLDER, "Folder three", "three");
    std::string head = "Could not uninstall item: ";
    std::string tail = "\r\nContinue uninstall procedure?";
    size_t cchKept = 659 - head.size() - tail.size() - 3;
    ExpectUninstallPressed();
    robot.ExpectBox(kTitle, head + description.substr(0, cchKept) + "..." + tail, IDYES);
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    EXPECT_EQ(journal, (std::vector<std::string>{"undo one", "undo failed two", "undo three"}));
    EXPECT_EQ(first->fDone + failing->fDone * 10 + last->fDone * 100, 101u);
    EXPECT_EQ(host.notifications(), (std::vector<UINT>{WM_TRUN95_BUSY_BEGIN, WM_TRUN95_BUSY_END}));
}

TEST_F(ListFormTest, UndoFailureAnsweredNoKeepsTheDialogAndTheNextRunSkipsWhatWasDone) {
    session.Add(DEA_FOLDER, "Folder one", "one");
    DEACTION* failing = session.Add(DEA_FOLDER, "Folder two", "two", nullptr, UndoFailsOnce);
    session.Add(DEA_FOLDER, "Folder three", "three");
    int cItemsAfterStop = 0;
    std::vector<int> checksAfterSelectAll;
    script.Expect("Uninstall", [&](HWND hDlg) {
        PressButton(hDlg, IDOK);
        script.WaitForWindows(2);
        Settle(hDlg);
        cItemsAfterStop =
            static_cast<int>(SendDlgItemMessageA(hDlg, IDC_ITEM_LIST, LB_GETCOUNT, 0, 0));
        // Select All passes over the item whose action is done.
        SendDlgItemMessageA(hDlg, IDC_ITEM_LIST, LB_SETSEL, FALSE, -1);
        PressButton(hDlg, IDC_SELECT_ALL);
        Settle(hDlg);
        checksAfterSelectAll = Checks(hDlg);
        PressButton(hDlg, IDOK);
    });
    robot.ExpectBox(kTitle, "Could not uninstall item: Folder two\r\nContinue uninstall procedure?",
                    IDNO);
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    EXPECT_EQ(cItemsAfterStop, 3);
    EXPECT_EQ(checksAfterSelectAll, (std::vector<int>{0, 1, 1}));
    EXPECT_EQ(journal,
              (std::vector<std::string>{"undo one", "undo failed two", "undo two", "undo three"}));
    EXPECT_EQ(failing->fDone, 1u);
}

// More items than the list shows at once change its label.
TEST_F(ListFormTest, StatusLineSaysWhatTheFocusedItemWillDoAndHelpTellsTheHostOnce) {
    session.Add(DEA_FOLDER, "Folder \"C:\\App\\\"", "C:\\App\\");
    session.Add(DEA_RESTORE, "Changes to \"C:\\WINDOWS\\WIN.INI\"", "C:\\WINDOWS\\WIN.INI");
    for (int i = 0; i < 40; ++i)
        session.Add(DEA_FOLDER, "Folder " + std::to_string(i), "C:\\F" + std::to_string(i));
    session.AddCaution("File \"x\" was deleted");
    std::string onFirst, onSecond, offList, label;
    script.Expect("Uninstall", [&](HWND hDlg) {
        Settle(hDlg);
        label = WindowText(GetDlgItem(hDlg, IDC_ITEMS_LABEL));
        HWND hStatus = GetDlgItem(hDlg, IDC_DIALOG_STATUS);
        onFirst = WindowText(hStatus);
        PressKey(GetDlgItem(hDlg, IDC_ITEM_LIST), VK_DOWN);
        onSecond = WindowText(hStatus);
        FocusControl(hDlg, GetDlgItem(hDlg, IDC_SELECT_ALL));
        offList = WindowText(hStatus);
        PressButton(hDlg, IDC_HELP_BUTTON);
        PressButton(hDlg, IDC_CAUTIONS);
        script.WaitForWindows(2);
        Settle(hDlg);
        PressButton(hDlg, IDCANCEL);
    });
    // F1 in the cautions asks for their help, not for this dialog's.
    robot.ExpectDialog("Caution", [](HWND hCautions) {
        PostMessageA(GetDlgItem(hCautions, IDC_CAUTION_LIST), kKeyF1, 0, 0);
        PostMessageA(hCautions, WM_COMMAND, IDOK, 0);
    });
    robot.ExpectBox("Uninstall", kCancelQuestion, IDYES);
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    script.Join();
    EXPECT_EQ(onFirst, "The selected checkbox will delete the folder \"C:\\App\\\" created by the "
                       "installation process.");
    EXPECT_EQ(onSecond, "The selected checkbox will restore the file \"C:\\WINDOWS\\WIN.INI\" that "
                        "was altered by the installation process.");
    EXPECT_EQ(offList, "Only items that are checked will be uninstalled");
    EXPECT_EQ(label, "&Select Items to Uninstall.  Use scrollbar to see more items.");
    EXPECT_EQ(host.notifications(),
              (std::vector<UINT>{WM_TRUN95_HELP_UNINSTALL, WM_TRUN95_HELP_CAUTIONS}));
}

constexpr char kExceptionBoxStart[] = "Tarnel Uninstaller has detected internal exception ";

int UndoFaults(DEACTION* pact) {
    journal.push_back(std::string("undo faulted ") + pact->szObject);
    RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    return 1;
}

int ConfirmRaises(DEACTION* pact) {
    journal.push_back(std::string("confirm raised ") + pact->szObject);
    throw std::runtime_error("confirm failed");
}

HWND hwndPressedAgain;

// An undo that keeps the windows alive while it works, during which the user
// presses Uninstall once more.
int UndoWhileUninstallIsPressedAgain(DEACTION* pact) {
    PostMessageA(hwndPressedAgain, WM_COMMAND, IDOK, 0);
    PumpMessages();
    return UndoSucceeds(pact);
}

using CarryOutFaultTest = ListFormTest;

// A confirm that throws and an undo that faults are each reported, and the
// rest goes on.
TEST_F(CarryOutFaultTest, ExceptionInAConfirmAndFaultInAnUndoAreReportedAndTheRestIsUndone) {
    DEACTION* faulting = session.Add(DEA_FOLDER, "Folder one", "one", ConfirmRaises, UndoFaults);
    DEACTION* next = session.Add(DEA_FOLDER, "Folder two", "two", ConfirmYes);
    ExpectUninstallPressed();
    robot.ExpectBoxStartingWith(kTitle, std::string(kExceptionBoxStart) + "2 in Dedlg line", IDYES);
    robot.ExpectBoxStartingWith(kTitle, std::string(kExceptionBoxStart) + "3 in Dedlg line", IDYES);
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    EXPECT_EQ(journal, (std::vector<std::string>{"confirm raised one", "confirm two",
                                                 "undo faulted one", "undo two"}));
    EXPECT_EQ(faulting->fDone, 0u);
    EXPECT_EQ(next->fDone, 1u);
}

// The pass that a fault abandons runs no destructor in the 32-bit build; the
// guard that catches it still lets the next Uninstall run.
TEST_F(CarryOutFaultTest, FaultThatLeavesTheCarryingOutLetsTheNextOneRun) {
    TreeviewForm = 1;
    DEACTION* broken = session.Add(DEA_FOLDER, "Folder one", "one", nullptr, UndoFails);
    char* pszDescription = broken->pszDescription;
    broken->pszDescription = reinterpret_cast<char*>(uintptr_t{16});
    broken->fSelected = 1;
    EXPECT_FALSE(Guarded([] { CarryOutActions(nullptr); }));
    broken->pszDescription = pszDescription;
    broken->fSelected = 0;
    session.Add(DEA_FOLDER, "Folder two", "two")->fSelected = 1;
    EXPECT_EQ(CarryOutActions(nullptr), 1);
    EXPECT_EQ(journal, (std::vector<std::string>{"undo failed one", "undo two"}));
}

TEST_F(CarryOutFaultTest, ActionOfUnknownKindIsReportedOnceInTheTree) {
    session.ChooseForm("1");
    session.Add(9, "Strange one", "strange");
    session.Add(DEA_FOLDER, "Folder two", "two");
    // Reported while the tree is filled, before the dialog shows.
    robot.ExpectBoxStartingWith(kTitle, std::string(kExceptionBoxStart) + "2 in treeview line",
                                IDYES);
    script.Expect("Uninstall", [](HWND hDlg) {
        Settle(hDlg);
        PressButton(hDlg, IDOK);
    });
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    EXPECT_EQ(journal, (std::vector<std::string>{"undo two"}));
}

TEST_F(CarryOutFaultTest, UninstallPressedDuringTheUndoPassDoesNotStartAnother) {
    session.Add(DEA_FOLDER, "Folder one", "one", nullptr, UndoWhileUninstallIsPressedAgain);
    session.Add(DEA_FOLDER, "Folder two", "two");
    script.Expect("Uninstall", [](HWND hDlg) {
        hwndPressedAgain = hDlg;
        PressButton(hDlg, IDOK);
    });
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    EXPECT_EQ(journal, (std::vector<std::string>{"undo one", "undo two"}));
}

} // namespace
