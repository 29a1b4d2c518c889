// A whole uninstall around a real setup program: the user unticks one file in
// the dialog and uninstalls; afterwards the prefix's files are as before
// setup, except that file and the changes listed as cautions.
#include "dialog/dedlg.h"
#include "resources/resource.h"
#include "session/session.h"
#include "support/dialog_script.h"
#include "support/dialog_session.h"
#include "support/setup_scenario.h"

#include <functional>
#include <map>

namespace {

constexpr char kTitle[] = "Tarnel Uninstaller";

using Listing = std::map<std::string, DWORD>; // lower-case path -> size

// The entries in which two listings differ, for a readable failure.
std::vector<std::string> Differences(const Listing& actual, const Listing& expected) {
    std::vector<std::string> lines;
    for (const auto& [path, size] : actual) {
        auto it = expected.find(path);
        if (it == expected.end() || it->second != size)
            lines.push_back("found " + path + " " + std::to_string(size));
    }
    for (const auto& [path, size] : expected) {
        if (!actual.count(path))
            lines.push_back("missing " + path);
    }
    return lines;
}

void ListTree(const std::string& folder, Listing* pListing) {
    WIN32_FIND_DATAA find;
    HANDLE hFind = FindFirstFileA((folder + "\\*").c_str(), &find);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = find.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = LowerText(folder + "\\" + name);
        if (find.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*pListing)[path + "\\"] = 0;
            ListTree(folder + "\\" + name, pListing);
        } else {
            (*pListing)[path] = find.nFileSizeLow;
        }
    } while (FindNextFileA(hFind, &find));
    FindClose(hFind);
}

class UninstallScenarioTest : public SetupScenarioTest {
  protected:
    void TearDown() override {
        script.Join();
        SetupScenarioTest::TearDown();
    }

    Listing PrefixFiles() {
        Listing listing;
        for (const std::string& folder : {programs, windows, startMenu, desktop})
            ListTree(folder, &listing);
        return listing;
    }

    // Runs setup, then the uninstall dialog in the form chosen, where the user
    // selects all, unticks the kept file and uninstalls. Afterwards the prefix
    // is as before setup, with the kept file and the changes that cannot be
    // undone: the two cautions, and a file that setup renamed outside the
    // Windows folders (only its new name is known).
    void UninstallAllBut(const char* pszForm, const std::string& kept,
                         std::function<void(HWND hDlg, const std::string& label)> untick) {
        session.ChooseForm(pszForm);
        Listing expected = PrefixFiles();
        RunHandFed();
        std::string keptLabel = "File \"" + kept + "\"";
        script.Expect("Uninstall", [untick, keptLabel](HWND hDlg) {
            Settle(hDlg);
            PressButton(hDlg, IDC_SELECT_ALL);
            Settle(hDlg);
            untick(hDlg, keptLabel);
            PressButton(hDlg, IDOK);
        });
        for (const std::string& folder : {programs + "\\Acme\\", programs + "\\Acme\\Data\\"})
            robot.ExpectBoxStartingWith(kTitle, "You have chosen to delete the folder " + folder,
                                        IDYES);
        EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
        script.Join();
        expected.erase(LowerText(programs + "\\Common Files\\acme-old.cfg"));
        expected.erase(LowerText(system + "\\acme-gone.dll"));
        expected[LowerText(system + "\\acme-shared.dat")] = sizeof "changed by setup" - 1;
        expected[LowerText(kept)] = static_cast<DWORD>(ReadTextFile(kept).size());
        EXPECT_EQ(Differences(PrefixFiles(), expected), std::vector<std::string>{});
    }

    DialogScript script{robot};
    DialogSession session{host};
};

TEST_F(UninstallScenarioTest, TreeFormUndoesEverythingButTheUntickedFile) {
    std::string systemIni = ReadTextFile(windows + "\\system.ini");
    UninstallAllBut("1", windows + "\\inf\\acme.inf", [](HWND hDlg, const std::string& label) {
        HWND hTree = GetDlgItem(hDlg, IDC_ITEM_TREE);
        HTREEITEM hFiles = FindTreeItem(hTree, nullptr, "File Changes");
        ClickTreeItem(hTree, FindTreeItem(hTree, hFiles, label), TVHT_ONITEMSTATEICON);
    });
    EXPECT_EQ(ReadTextFile(windows + "\\system.ini"), systemIni);
}

TEST_F(UninstallScenarioTest, ListFormUndoesEverythingButTheUntickedFile) {
    UninstallAllBut("0", programs + "\\Common Files\\AcmeShared.dll",
                    [](HWND hDlg, const std::string& label) {
                        int iKept = static_cast<int>(SendDlgItemMessageA(
                            hDlg, IDC_ITEM_LIST, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                            reinterpret_cast<LPARAM>(label.c_str())));
                        SendDlgItemMessageA(hDlg, IDC_ITEM_LIST, LB_SETSEL, FALSE, iKept);
                    });
}

} // namespace
