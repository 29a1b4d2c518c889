// The tree form: categories in sorted order with check states summing up
// their actions, toggles by mouse and keyboard, and Enter on a collapsed
// category.
#include "support/uninstall_dialog_test.h"

#include "files/lists.h"
#include "resources/resource.h"
#include "session/session.h"

#include <gtest/gtest.h>

namespace {

class TreeFormTest : public UninstallDialogTest {
  protected:
    void SetUp() override {
        UninstallDialogTest::SetUp();
        session.ChooseForm("1");
        std::string win = session.WindowsFolder();
        inside = session.Add(DEA_FILE, "File \"" + win + "a.dll\"", win + "a.dll");
        outside = session.Add(DEA_FILE, "File \"C:\\App\\b.exe\"", "C:\\App\\b.exe");
        folder1 = session.Add(DEA_FOLDER, "Folder \"C:\\App\\\"", "C:\\App\\");
        folder2 = session.Add(DEA_FOLDER, "Folder \"C:\\App\\Data\\\"", "C:\\App\\Data\\");
        registry = session.Add(DEA_REGISTRY, "Key Added HKEY_LOCAL_MACHINE\\Software\\App",
                               "HKEY_LOCAL_MACHINE\\Software\\App");
    }
    // Runs the dialog: the steps on its tree, then a confirmed Cancel.
    void RunDialog(std::function<void(HWND hDlg, HWND hTree)> steps) {
        RunThenCancel([steps](HWND hDlg) { steps(hDlg, GetDlgItem(hDlg, IDC_ITEM_TREE)); });
    }

    DEACTION* inside = nullptr;
    DEACTION* outside = nullptr;
    DEACTION* folder1 = nullptr;
    DEACTION* folder2 = nullptr;
    DEACTION* registry = nullptr;
};

TEST_F(TreeFormTest, LabelCheckBoxAndRightClicksToggleACategoryButPictureAndButtonDoNot) {
    std::vector<UINT> files, folders;
    DWORD fAfterLabel = 9, fAfterBox = 9;
    bool fPictureHit = false, fButtonHit = false, fOpenAfterButton = true;
    RunDialog([&](HWND, HWND hTree) {
        HTREEITEM hFiles = FindTreeItem(hTree, nullptr, "File Changes");
        files.push_back(TreeStateImage(hTree, hFiles));
        ClickTreeItem(hTree, hFiles, TVHT_ONITEMLABEL);
        files.push_back(TreeStateImage(hTree, hFiles));
        fAfterLabel = inside->fSelected + outside->fSelected;
        ClickTreeItem(hTree, hFiles, TVHT_ONITEMSTATEICON);
        files.push_back(TreeStateImage(hTree, hFiles));
        fAfterBox = inside->fSelected + outside->fSelected;

        HTREEITEM hFolders = FindTreeItem(hTree, nullptr, "Folder Changes");
        fPictureHit = ClickTreeItem(hTree, hFolders, TVHT_ONITEMICON);
        folders.push_back(TreeStateImage(hTree, hFolders));
        fButtonHit = ClickTreeItem(hTree, hFolders, TVHT_ONITEMBUTTON);
        folders.push_back(TreeStateImage(hTree, hFolders));
        fOpenAfterButton = IsTreeItemExpanded(hTree, hFolders);
        ClickTreeItem(hTree, hFolders, TVHT_ONITEMLABEL, true);
        folders.push_back(TreeStateImage(hTree, hFolders));
    });
    // 1 unchecked, 2 checked, 3 partly checked.
    EXPECT_EQ(files, (std::vector<UINT>{3, 1, 2}));
    EXPECT_EQ(fAfterLabel, 0u);
    EXPECT_EQ(fAfterBox, 2u);
    EXPECT_TRUE(fPictureHit);
    EXPECT_TRUE(fButtonHit);
    EXPECT_FALSE(fOpenAfterButton);
    EXPECT_EQ(folders, (std::vector<UINT>{2, 2, 1}));
    EXPECT_EQ(folder1->fSelected + folder2->fSelected, 0u);
}

TEST_F(TreeFormTest, CategoriesAreSortedStartFromTheirActionsAndFollowTheirToggles) {
    std::vector<std::string> roots, files;
    std::vector<UINT> states, folderStates;
    bool fFilesOpen = false, fRegistryOpen = true;
    std::string shownFolder;
    RunDialog([&](HWND, HWND hTree) {
        for (HTREEITEM h = TreeView_GetRoot(hTree); h; h = TreeView_GetNextSibling(hTree, h)) {
            roots.push_back(TreeItemText(hTree, h));
            states.push_back(TreeStateImage(hTree, h));
        }
        HTREEITEM hFiles = FindTreeItem(hTree, nullptr, "File Changes");
        fFilesOpen = IsTreeItemExpanded(hTree, hFiles);
        fRegistryOpen = IsTreeItemExpanded(hTree, FindTreeItem(hTree, nullptr, "Registry Changes"));
        HTREEITEM hFolders = FindTreeItem(hTree, nullptr, "Folder Changes");
        shownFolder = TreeItemText(hTree, TreeView_GetChild(hTree, hFolders));
        for (HTREEITEM h = TreeView_GetChild(hTree, hFiles); h;
             h = TreeView_GetNextSibling(hTree, h))
            files.push_back(TreeItemText(hTree, h));
        HTREEITEM hFirst = TreeView_GetChild(hTree, hFolders);
        HTREEITEM hSecond = TreeView_GetNextSibling(hTree, hFirst);
        ClickTreeItem(hTree, hFirst, TVHT_ONITEMLABEL);
        folderStates.push_back(TreeStateImage(hTree, hFolders));
        ClickTreeItem(hTree, hSecond, TVHT_ONITEMSTATEICON);
        folderStates.push_back(TreeStateImage(hTree, hFolders));
        ClickTreeItem(hTree, hSecond, TVHT_ONITEMLABEL);
        folderStates.push_back(TreeStateImage(hTree, hFolders));
    });
    EXPECT_EQ(roots,
              (std::vector<std::string>{"File Changes", "Folder Changes", "Registry Changes"}));
    EXPECT_EQ(states, (std::vector<UINT>{3, 2, 2}));
    EXPECT_TRUE(fFilesOpen);
    EXPECT_FALSE(fRegistryOpen);
    // A quoted folder path loses its closing backslash on screen.
    // Sorted by text, not in the order of the action list.
    EXPECT_EQ(files, (std::vector<std::string>{outside->pszDescription, inside->pszDescription}));
    EXPECT_EQ(shownFolder, "Folder \"C:\\App\"");
    EXPECT_EQ(inside->fSelected, 1u);
    EXPECT_EQ(outside->fSelected, 0u);
    // A category follows its actions: partly, none, partly checked.
    EXPECT_EQ(folderStates, (std::vector<UINT>{3, 1, 3}));
    EXPECT_EQ(folder1->fSelected + folder2->fSelected, 1u);
}

TEST_F(TreeFormTest, SpaceBarTogglesTheCaretItemAndLettersDoNothing) {
    UINT uAfterSpace = 0;
    HTREEITEM hCaretBefore = nullptr, hCaretAfterLetter = nullptr;
    RunDialog([&](HWND hDlg, HWND hTree) {
        HTREEITEM hRegistry = FindTreeItem(hTree, nullptr, "Registry Changes");
        TreeView_SelectItem(hTree, hRegistry);
        FocusControl(hDlg, hTree);
        PressKey(hTree, VK_SPACE);
        uAfterSpace = TreeStateImage(hTree, hRegistry);
        hCaretBefore = TreeView_GetSelection(hTree);
        PostMessageA(hTree, WM_CHAR, 'F', 1);
        Settle(hTree);
        hCaretAfterLetter = TreeView_GetSelection(hTree);
    });
    EXPECT_EQ(uAfterSpace, 1u);
    EXPECT_EQ(registry->fSelected, 0u);
    EXPECT_EQ(hCaretBefore, hCaretAfterLetter);
}

TEST_F(TreeFormTest, EnterExpandsACollapsedCategoryInsteadOfUninstalling) {
    bool fOpened = false, fStillOpen = false;
    script.Expect("Uninstall", [&](HWND hDlg) {
        HWND hTree = GetDlgItem(hDlg, IDC_ITEM_TREE);
        Settle(hDlg);
        HTREEITEM hRegistry = FindTreeItem(hTree, nullptr, "Registry Changes");
        TreeView_SelectItem(hTree, hRegistry);
        FocusControl(hDlg, hTree);
        PressKey(hTree, VK_RETURN);
        Settle(hTree);
        fOpened = IsTreeItemExpanded(hTree, hRegistry);
        fStillOpen = IsWindow(hDlg) && journal.empty();
        // Expanded now: Enter runs the uninstall.
        PressKey(hTree, VK_RETURN);
    });
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    EXPECT_TRUE(fOpened);
    EXPECT_TRUE(fStillOpen);
    EXPECT_EQ(registry->fDone, 1u);
    EXPECT_EQ(outside->fDone, 0u);
    EXPECT_EQ(inside->fDone, 1u);
}

TEST_F(TreeFormTest, SelectAllChecksEverythingAndUninstallWithNothingCheckedEndsTheDialog) {
    std::vector<UINT> afterSelectAll, afterUnchecking;
    bool fAllSelected = false;
    script.Expect("Uninstall", [&](HWND hDlg) {
        HWND hTree = GetDlgItem(hDlg, IDC_ITEM_TREE);
        Settle(hDlg);
        PressButton(hDlg, IDC_SELECT_ALL);
        Settle(hDlg);
        fAllSelected = inside->fSelected && outside->fSelected && folder1->fSelected &&
                       folder2->fSelected && registry->fSelected;
        for (HTREEITEM h = TreeView_GetRoot(hTree); h; h = TreeView_GetNextSibling(hTree, h)) {
            afterSelectAll.push_back(TreeStateImage(hTree, h));
            ClickTreeItem(hTree, h, TVHT_ONITEMLABEL);
            afterUnchecking.push_back(TreeStateImage(hTree, h));
        }
        PressButton(hDlg, IDOK);
    });
    EXPECT_EQ(show_deinstall_dialog(host.hwnd()), 1);
    EXPECT_TRUE(fAllSelected);
    EXPECT_EQ(afterSelectAll, (std::vector<UINT>{2, 2, 2}));
    EXPECT_EQ(afterUnchecking, (std::vector<UINT>{1, 1, 1}));
    EXPECT_TRUE(journal.empty());
}

} // namespace
