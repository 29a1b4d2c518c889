// A whole uninstall around a real setup program: the user unticks one file in
// the dialog and uninstalls; afterwards the prefix's files are as before
// setup, except that file and the changes listed as cautions.
#include "dialog/dedlg.h"
#include "resources/resource.h"
#include "session/session.h"
#include "support/dialog_script.h"
#include "support/setup_scenario.h"

#include <shlobj.h>

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
    void SetUp() override {
        SetupScenarioTest::SetUp();
        if (!pShellMalloc)
            SHGetMalloc(&pShellMalloc);
    }

    void TearDown() override {
        script.Join();
        SetupScenarioTest::TearDown();
        DeleteFileA((windows + "\\tarnel32.ini").c_str());
    }

    Listing PrefixFiles() {
        Listing listing;
        for (const std::string& folder : {programs, windows, startMenu, desktop})
            ListTree(folder, &listing);
        return listing;
    }

    void ChooseForm(const char* pszValue) {
        WritePrivateProfileStringA("Tarnel", "UninstallerTreeview", pszValue, "tarnel32.ini");
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, "tarnel32.ini");
    }

    void ExpectFolderQuestions() {
        for (const std::string& folder : {programs + "\\Acme\\", programs + "\\Acme\\Data\\"})
            robot.ExpectBoxStartingWith(kTitle, "You have chosen to delete the folder " + folder,
                                        IDYES);
    }

    // What the prefix must look like: as before setup, with the kept file and
    // the changes that cannot be undone: the two cautions, and a file that
    // setup renamed outside the Windows folders (only its new name is known).
    Listing ExpectedAfter(const Listing& before, const std::string& kept) {
        Listing expected = before;
        expected.erase(LowerText(programs + "\\Common Files\\acme-old.cfg"));
        expected.erase(LowerText(system + "\\acme-gone.dll"));
        expected[LowerText(system + "\\acme-shared.dat")] = sizeof "changed by setup" - 1;
        expected[LowerText(kept)] = static_cast<DWORD>(ReadTextFile(kept).size());
        return expected;
    }

    DialogScript script{robot};
};

TEST_F(UninstallScenarioTest, TreeFormUndoesEverythingButTheUntickedFile) {
    ChooseForm("1");
    std::string kept = windows + "\\inf\\acme.inf";
    std::string systemIni = ReadTextFile(windows + "\\system.ini");
    Listing before = PrefixFiles();
    RunHandFed();
    std::string keptLabel = "File \"" + kept + "\"";
    script.Expect("Uninstall", [keptLabel](HWND hDlg) {
        HWND hTree = GetDlgItem(hDlg, IDC_ITEM_TREE);
        Settle(hDlg);
        PressButton(hDlg, IDC_SELECT_ALL);
        Settle(hDlg);
        HTREEITEM hFiles = FindTreeItem(hTree, nullptr, "File Changes");
        ClickTreeItem(hTree, FindTreeItem(hTree, hFiles, keptLabel), TVHT_ONITEMSTATEICON);
        PressButton(hDlg, IDOK);
    });
    ExpectFolderQuestions();
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    script.Join();
    EXPECT_EQ(Differences(PrefixFiles(), ExpectedAfter(before, kept)), std::vector<std::string>{});
    EXPECT_EQ(ReadTextFile(windows + "\\system.ini"), systemIni);
}

TEST_F(UninstallScenarioTest, ListFormUndoesEverythingButTheUntickedFile) {
    ChooseForm("0");
    std::string kept = programs + "\\Common Files\\AcmeShared.dll";
    Listing before = PrefixFiles();
    RunHandFed();
    std::string keptLabel = "File \"" + kept + "\"";
    script.Expect("Uninstall", [keptLabel](HWND hDlg) {
        HWND hList = GetDlgItem(hDlg, IDC_ITEM_LIST);
        PressButton(hDlg, IDC_SELECT_ALL);
        Settle(hDlg);
        int iKept =
            static_cast<int>(SendMessageA(hList, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                          reinterpret_cast<LPARAM>(keptLabel.c_str())));
        SendMessageA(hList, LB_SETSEL, FALSE, iKept);
        PressButton(hDlg, IDOK);
    });
    ExpectFolderQuestions();
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    script.Join();
    EXPECT_EQ(Differences(PrefixFiles(), ExpectedAfter(before, kept)), std::vector<std::string>{});
}

} // namespace
