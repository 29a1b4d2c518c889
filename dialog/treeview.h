// The tree form of the uninstall dialog: categories, their check states and
// the records attached to the tree items.
#pragma once

#include <windows.h>
#include <commctrl.h>

struct DEACTION;

constexpr WORD kCategoryCount = 6;
constexpr int kCategoryPictures = 5;

// State images of the check boxes.
enum : UINT {
    kUnchecked = 1,
    kChecked = 2,
    kPartlyChecked = 3,
};

// The item data of every tree item, from the shell allocator.
struct TREENODE {
    WORD wCategory;
    DEACTION* pAction;
    HTREEITEM hParentItem;
};

// Category item of each kind of action; slot 0 is never set.
extern HTREEITEM CategoryItems[kCategoryCount + 1];

int InitTreeImages(HWND hTree);
void FillActionTree();
HTREEITEM InsertTreeItem(HWND hTree, HTREEITEM hParent, HTREEITEM hInsertAfter, const char* pszText,
                         int iImage, int iSelectedImage, WORD wCategory, DEACTION* pAction,
                         int fChecked);
void ToggleTreeItem(HTREEITEM hItem);
void SetCategoryState(UINT uState, HTREEITEM hCategory);
void MarkAncestorsPartial(HTREEITEM hItem);
void RefreshCategoryStates();
int ExpandOnEnter(HWND hDlg);
void FreeTreeNodes();
UINT TreeItemState(HTREEITEM hItem);
INT_PTR CALLBACK TreeDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TreeKeyProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
