// The report file with its exact bytes, and the cautions dialog.
#include "support/dialog_script.h"
#include "support/dialog_session.h"
#include "support/hosted_test.h"
#include "support/prefix_files.h"

#include "dialog/report.h"
#include "dialog/cautions.h"
#include "files/lists.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/library.h"
#include "session/exports.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kTitle[] = "Tarnel Uninstaller";
constexpr int kSaveFileNameBox = 0x47C;
// The save dialog's question before it overwrites a file, as the system
// words it.
constexpr char kOverwriteCaption[] = "Error";

class ReportTest : public HostedTest {
  protected:
    void TearDown() override {
        script.Join();
        HostedTest::TearDown();
    }
    // Answers the save dialog with the test's file name.
    void ExpectSaveAs() {
        std::string name = path;
        script.Expect("Save As", [name](HWND hDlg) {
            SetDlgItemTextA(hDlg, kSaveFileNameBox, name.c_str());
            PostMessageA(hDlg, WM_COMMAND, IDOK, 0);
        });
    }
    DialogScript script{robot};
    DialogSession session{host};
    ScratchFolder scratch{"report"};
    std::string path = scratch / "trun95_report.txt";
};

// Each report replaces a longer existing file whole, after the question.
TEST_F(ReportTest, ListsCautionsAndEveryActionNotYetDoneOrSaysThereIsNone) {
    const std::string head = "Tarnel Uninstaller version 6.1\r\n\r\n";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] {
             session.AddCaution("File \"b\" was deleted");
             session.AddCaution("File \"a\" was altered");
             session.Add(DEA_FOLDER, "Folder one", "one")->fSelected = 0;
             session.Add(DEA_FOLDER, "Folder two", "two")->fDone = 1;
             session.Add(DEA_FILE, "File three", "three");
         },
         head + "Caution Messages:\r\n\r\nFile \"a\" was altered\r\nFile \"b\" was deleted\r\n"
                "\r\nList of Items to Uninstall:\r\n\r\nFolder one\r\nFile three\r\n"},
        {[&] { session.Add(DEA_FOLDER, "Folder one", "one")->fDone = 1; },
         head + "No Caution Messages\r\n\r\nList of Items to Uninstall:\r\n\r\n"},
        {[] {}, head + "No Caution Messages\r\nNothing to Uninstall\r\n"},
    };
    for (const auto& [fill, expected] : cases) {
        FreeActionList();
        FreeNameList(&Cautions);
        fill();
        WriteTextFile(path, std::string(5000, 'x'));
        ExpectSaveAs();
        robot.ExpectBoxStartingWith(kOverwriteCaption, "File already exists.", IDYES);
        WriteReport(host.hwnd());
        script.Join();
        EXPECT_EQ(ReadTextFile(path), expected);
    }
}

TEST_F(ReportTest, FileThatCannotBeOpenedOrWrittenWholeIsTold) {
    WriteTextFile(path, "old");
    HANDLE hHeld = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
    ExpectSaveAs();
    robot.ExpectBoxStartingWith(kOverwriteCaption, "File already exists.", IDYES);
    robot.ExpectBox(
        kTitle, "Could not write the report to " + path + "\nThe file may be in use or read-only.",
        IDOK);
    WriteReport(host.hwnd());
    CloseHandle(hHeld);
    EXPECT_EQ(ReadTextFile(path), "old");
    // The machine's full device opens like a file and fails every write, as
    // a full disk does.
    std::string full = "Z:\\dev\\full";
    HANDLE hFull = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hFull, INVALID_HANDLE_VALUE);
    CloseHandle(hFull);
    robot.ExpectBox(
        kTitle, "Could not write the whole report to " + full + "\nThe disk may be full.", IDOK);
    SaveReport(host.hwnd(), full.c_str());
}

TEST_F(ReportTest, CancelledSaveDialogWritesNothing) {
    script.Expect("Save As", [](HWND hDlg) { PostMessageA(hDlg, WM_COMMAND, IDCANCEL, 0); });
    WriteReport(host.hwnd());
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

class CautionsDialogTest : public ReportTest {};

TEST_F(CautionsDialogTest, ShowsEachCautionOnceInListOrder) {
    session.AddCaution("File \"c\" was deleted");
    session.AddCaution("File \"a\" was altered");
    session.AddCaution("File \"b\" was deleted");
    session.AddCaution("File \"a\" was altered");
    std::vector<std::string> shown;
    script.Expect("Caution", [&](HWND hDlg) {
        HWND hList = GetDlgItem(hDlg, IDC_CAUTION_LIST);
        int cItems = static_cast<int>(SendMessageA(hList, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < cItems; ++i) {
            char szText[600] = "";
            SendMessageA(hList, LB_GETTEXT, i, reinterpret_cast<LPARAM>(szText));
            shown.push_back(szText);
        }
        PressButton(hDlg, IDC_CAUTION_HELP);
        Settle(hDlg);
        PressButton(hDlg, IDOK);
    });
    ShowCautions(host.hwnd());
    std::vector<std::string> listed;
    for (NAMEITEM* pItem = Cautions; pItem; pItem = pItem->pNext)
        listed.push_back(pItem->szName);
    EXPECT_EQ(shown, listed);
    EXPECT_EQ(shown.size(), 3u);
    EXPECT_EQ(host.notifications(), (std::vector<UINT>{WM_TRUN95_HELP_CAUTIONS}));
}

// A host may run the exported procedure in a dialog of its own; a fault
// there ends that dialog and is never raised later in another one.
TEST_F(CautionsDialogTest, FaultInADialogOfTheHostIsNotRaisedInTheNextDialog) {
    Cautions = reinterpret_cast<NAMEITEM*>(uintptr_t{16});
    INT_PTR result =
        DialogBoxParamA(hinstLib, MAKEINTRESOURCEA(IDD_CAUTIONS), host.hwnd(), caution_dlg_proc, 0);
    Cautions = nullptr;
    EXPECT_EQ(result, -1);
    script.Expect("Caution", [](HWND hDlg) { PostMessageA(hDlg, WM_COMMAND, IDOK, 0); });
    EXPECT_TRUE(Guarded([&] { ShowCautions(host.hwnd()); }));
}

} // namespace
