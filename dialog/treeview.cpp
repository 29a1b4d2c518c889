// The uninstall dialog's tree form: one category item per kind of change with
// the actions below it; check boxes are state images (1 unchecked, 2 checked,
// 3 partly checked) and every toggle writes the actions' selection at once.
#include "dialog/treeview.h"

#include "actions/deaction.h"
#include "common/boxes.h"
#include "dialog/dedlg.h"
#include "files/lists.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/internal_error.h"
#include "common/library.h"

#include <commctrl.h>

#include <cstring>

HTREEITEM CategoryItems[kCategoryCount + 1];

namespace {

constexpr char kModule[] = "treeview";
constexpr COLORREF kTransparent = RGB(255, 0, 0);
constexpr int kDisplayChars = 1024;

struct CATEGORY {
    const char* pszText;
    int iPicture; // cell of the "Folders" bitmap
};

const CATEGORY aCategories[kCategoryCount + 1] = {
    {"", 0},
    {"Group Changes", 0},
    {"Icon Changes", 0},
    {"Folder Changes", 3},
    {"File Changes", 4},
    {"INI File Changes", 2},
    {"Registry Changes", 1},
};

HWND hwndTree;
// The tree's own window procedure is kept in the tree's user data while it
// is subclassed: every message of the tree reads it, and a window property
// would cost two round trips to the server per message (about a third of a
// millisecond per item while a big tree fills and empties).

TREENODE* NodeOf(HTREEITEM hItem) {
    TVITEMA item{};
    item.mask = TVIF_PARAM;
    item.hItem = hItem;
    if (!hItem || !TreeView_GetItem(hwndTree, &item))
        return nullptr;
    return reinterpret_cast<TREENODE*>(item.lParam);
}

void SetStateImage(HTREEITEM hItem, UINT uState) {
    TreeView_SetItemState(hwndTree, hItem, INDEXTOSTATEIMAGEMASK(uState), TVIS_STATEIMAGEMASK);
}

// A folder path shown in quotes loses its closing backslash.
void CopyDisplayText(const char* pszText, char (&szDisplayText)[kDisplayChars]) {
    lstrcpynA(szDisplayText, pszText ? pszText : "", kDisplayChars);
    size_t cch = std::strlen(szDisplayText);
    if (cch >= 2 && szDisplayText[cch - 2] == '\\') {
        szDisplayText[cch - 2] = '"';
        szDisplayText[cch - 1] = '\0';
    }
}

// Writes the state s into one item and its action; false when the item has
// no node.
bool ApplyState(UINT uState, HTREEITEM hItem) {
    TREENODE* pNode = NodeOf(hItem);
    if (!pNode)
        return false;
    if (pNode->pAction)
        pNode->pAction->fSelected = uState != kUnchecked ? 1 : 0;
    SetStateImage(hItem, uState);
    return true;
}

UINT SummaryOfChildren(HTREEITEM hCategory) {
    bool fAnyChecked = false;
    bool fAnyUnchecked = false;
    for (HTREEITEM h = TreeView_GetChild(hwndTree, hCategory); h;
         h = TreeView_GetNextSibling(hwndTree, h)) {
        UINT uState = TreeItemState(h);
        if (uState == kPartlyChecked)
            return kPartlyChecked;
        if (uState == kChecked)
            fAnyChecked = true;
        else
            fAnyUnchecked = true;
    }
    if (fAnyChecked && fAnyUnchecked)
        return kPartlyChecked;
    return fAnyChecked ? kChecked : kUnchecked;
}

void ReleaseNode(HTREEITEM hItem) {
    TREENODE* pNode = NodeOf(hItem);
    if (!pNode)
        return;
    TVITEMA item{};
    item.mask = TVIF_PARAM;
    item.hItem = hItem;
    item.lParam = 0;
    TreeView_SetItem(hwndTree, &item);
    pShellMalloc->Free(pNode);
}

void DestroyTreeImages() {
    if (!hwndTree)
        return;
    HIMAGELIST hNormal = TreeView_SetImageList(hwndTree, nullptr, TVSIL_NORMAL);
    HIMAGELIST hState = TreeView_SetImageList(hwndTree, nullptr, TVSIL_STATE);
    if (hNormal)
        ImageList_Destroy(hNormal);
    if (hState)
        ImageList_Destroy(hState);
}

// Adds a bitmap resource to an image list, masked by pure red; the index of
// its first cell, or -1.
int AddBitmapCells(HIMAGELIST hList, const char* pszName) {
    HBITMAP hbm = LoadBitmapA(hinstLib, pszName);
    if (!hbm)
        return -1;
    int iFirst = ImageList_AddMasked(hList, hbm, kTransparent);
    if (!DeleteObject(hbm))
        MessageBeep(0);
    return iFirst;
}

HIMAGELIST CreateStateImages() {
    HIMAGELIST hState = ImageList_Create(16, 16, ILC_COLOR4 | ILC_MASK, 4, 0);
    if (hState && AddBitmapCells(hState, IDB_CHKBOX) < 0) {
        ImageList_Destroy(hState);
        return nullptr;
    }
    return hState;
}

HTREEITEM InsertCategoryItem(WORD wCategory) {
    int iPicture = aCategories[wCategory].iPicture;
    return InsertTreeItem(hwndTree, TVI_ROOT, TVI_SORT, aCategories[wCategory].pszText, iPicture,
                          iPicture, wCategory, nullptr, 1);
}

void InsertActionItem(DEACTION* pact) {
    WORD wCategory = pact->wKind;
    if (!CategoryItems[wCategory])
        CategoryItems[wCategory] = InsertCategoryItem(wCategory);
    if (!CategoryItems[wCategory])
        return;
    int fChecked = StartsChecked(pact) ? 1 : 0;
    pact->fSelected = static_cast<DWORD>(fChecked);
    int iPicture = aCategories[wCategory].iPicture;
    // Appended, and each category sorted once when the tree is full: the same
    // order as a sorted insertion, without its quadratic cost on big installs.
    InsertTreeItem(hwndTree, CategoryItems[wCategory], TVI_LAST, pact->pszDescription, iPicture,
                   iPicture, wCategory, pact, fChecked);
}

HWND DialogOfTree() {
    return GetParent(hwndTree);
}

INT_PTR InitTreeDialog(HWND hDlg) {
    bool fFinished = Guarded([&] {
        CreateStatusFont(hDlg);
        CenterWindow(hDlg);
        if (!Cautions)
            DestroyWindow(GetDlgItem(hDlg, IDC_CAUTIONS));
        InitCommonControls();
        std::memset(CategoryItems, 0, sizeof CategoryItems);
        hwndTree = GetDlgItem(hDlg, IDC_ITEM_TREE);
        if (!hwndTree || !InitTreeImages(hwndTree)) {
            EndDialog(hDlg, -1);
            return;
        }
        ShowWindow(hwndTree, SW_HIDE);
        SetWindowLongPtrA(
            hwndTree, GWLP_USERDATA,
            SetWindowLongPtrA(hwndTree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TreeKeyProc)));
        FillActionTree();
        ShowWindow(hwndTree, SW_SHOW);
    });
    if (!fFinished) {
        ReportInternalException(kModule, 1, __LINE__);
        EndDialog(hDlg, -1);
    }
    return TRUE;
}

// A click toggles only when it hits the label or the check box.
void OnTreeClick() {
    DWORD dwPos = GetMessagePos();
    TVHITTESTINFO hit{};
    hit.pt.x = static_cast<short>(LOWORD(dwPos));
    hit.pt.y = static_cast<short>(HIWORD(dwPos));
    ScreenToClient(hwndTree, &hit.pt);
    HTREEITEM hItem = TreeView_HitTest(hwndTree, &hit);
    if (!hItem)
        return;
    TreeView_SelectItem(hwndTree, hItem);
    if (hit.flags & (TVHT_ONITEMLABEL | TVHT_ONITEMSTATEICON))
        ToggleTreeItem(hItem);
}

void OnTreeNotify(const NMHDR* phdr) {
    if (phdr->idFrom != IDC_ITEM_TREE)
        return;
    switch (phdr->code) {
    case NM_CLICK:
    case NM_DBLCLK:
    case NM_RCLICK:
    case NM_RDBLCLK:
        OnTreeClick();
        break;
    default:
        break;
    }
}

INT_PTR OnUninstall(HWND hDlg) {
    INT_PTR result = 0;
    bool fFinished = Guarded([&] {
        if (ExpandOnEnter(hDlg)) {
            result = 1;
            return;
        }
        SetFocus(GetDlgItem(hDlg, IDOK));
        if (CarryOutActions(hDlg)) {
            FreeTreeNodes();
            EndDialog(hDlg, 1);
        }
    });
    if (!fFinished) {
        ReportInternalException(kModule, 3, __LINE__);
        EndDialog(hDlg, -1);
    }
    return result;
}

void RepaintTree(WPARAM wParam, LPARAM lParam) {
    PostMessageA(hwndTree, WM_SYSCOLORCHANGE, wParam, lParam);
}

INT_PTR OnTreeCommand(HWND hDlg, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
    case IDOK:
        return OnUninstall(hDlg);
    case IDCANCEL:
        if (ConfirmCancel(hDlg)) {
            FreeTreeNodes();
            EndDialog(hDlg, 1);
        }
        return 0;
    case IDC_SELECT_ALL:
        for (WORD c = 1; c <= kCategoryCount; ++c)
            SetCategoryState(kChecked, CategoryItems[c]);
        RepaintTree(wParam, lParam);
        return 0;
    default:
        if (!HandleCommonCommand(hDlg, LOWORD(wParam)))
            RepaintTree(wParam, lParam);
        return 0;
    }
}

void OnTreeDialogDestroyed(HWND hDlg) {
    DeleteStatusFont(hDlg);
    FreeTreeNodes();
    DestroyTreeImages();
    hwndTree = nullptr;
}

INT_PTR HandleTreeMessage(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
    case WM_INITDIALOG:
        return InitTreeDialog(hDlg);
    case WM_NOTIFY:
        OnTreeNotify(reinterpret_cast<const NMHDR*>(lParam));
        return 0;
    case WM_SYSCOLORCHANGE:
        RepaintTree(wParam, lParam);
        return 0;
    case WM_SETCURSOR:
        return AnswerBusyCursor(hDlg) ? TRUE : FALSE;
    case WM_HELP:
        AnswerHelp(hDlg, reinterpret_cast<const HELPINFO*>(lParam));
        return TRUE;
    case WM_COMMAND:
        return OnTreeCommand(hDlg, wParam, lParam);
    case WM_DESTROY:
        OnTreeDialogDestroyed(hDlg);
        return 0;
    default:
        return 0;
    }
}

void ToggleCaretItem() {
    HTREEITEM hCaret = TreeView_GetSelection(hwndTree);
    if (GetFocus() == hwndTree && hCaret)
        ToggleTreeItem(hCaret);
}

// The space bar toggles; a failure is reported, and a choice to quit ends
// the dialog instead of unwinding through the tree's message dispatch.
void OnSpaceBar() {
    if (Guarded([] { ToggleCaretItem(); }))
        return;
    DWORD dwCode = 0;
    if (!Guarded([] { ReportInternalException(kModule, 4, __LINE__); }, &dwCode))
        KeepPendingDialogException(DialogOfTree(), dwCode);
}

} // namespace

UINT TreeItemState(HTREEITEM hItem) {
    UINT uState = TreeView_GetItemState(hwndTree, hItem, TVIS_STATEIMAGEMASK);
    return (uState & TVIS_STATEIMAGEMASK) >> 12;
}

int InitTreeImages(HWND hTree) {
    HIMAGELIST hNormal =
        ImageList_Create(GetSystemMetrics(SM_CXICON) / 2, GetSystemMetrics(SM_CYICON) / 2,
                         ILC_COLOR4 | ILC_MASK, 4, 8);
    if (!hNormal)
        return 0;
    // The category pictures are the first cells of the new list.
    HIMAGELIST hState = AddBitmapCells(hNormal, IDB_FOLDERS) < 0 ? nullptr : CreateStateImages();
    if (!hState || ImageList_GetImageCount(hNormal) < kCategoryPictures) {
        if (hState)
            ImageList_Destroy(hState);
        ImageList_Destroy(hNormal);
        return 0;
    }
    TreeView_SetImageList(hTree, hState, TVSIL_STATE);
    TreeView_SetImageList(hTree, hNormal, TVSIL_NORMAL);
    return 1;
}

void FillActionTree() {
    int iSlot = 0;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->fDone)
            continue;
        if (pact->wKind < 1 || pact->wKind > kCategoryCount)
            ReportInternalException(kModule, 2, __LINE__);
        else
            InsertActionItem(pact);
        if (iSlot < cItemSlots)
            ItemActions[iSlot++] = pact;
    }
    for (WORD c = 1; c <= kCategoryCount; ++c) {
        if (CategoryItems[c])
            TreeView_SortChildren(hwndTree, CategoryItems[c], FALSE);
    }
    for (WORD c = 1; c < DEA_REGISTRY; ++c) {
        if (CategoryItems[c])
            TreeView_Expand(hwndTree, CategoryItems[c], TVE_EXPAND);
    }
    RefreshCategoryStates();
    PostMessageA(hwndTree, WM_VSCROLL, SB_TOP, 0);
}

HTREEITEM InsertTreeItem(HWND hTree, HTREEITEM hParent, HTREEITEM hInsertAfter, const char* pszText,
                         int iImage, int iSelectedImage, WORD wCategory, DEACTION* pAction,
                         int fChecked) {
    TREENODE* pNode =
        pShellMalloc ? static_cast<TREENODE*>(pShellMalloc->Alloc(sizeof(TREENODE))) : nullptr;
    if (!pNode) {
        InternalError(kModule, __LINE__);
        return nullptr;
    }
    pNode->wCategory = wCategory;
    pNode->pAction = pAction;
    pNode->hParentItem = hParent == TVI_ROOT ? nullptr : hParent;
    char szDisplayText[kDisplayChars];
    CopyDisplayText(pszText, szDisplayText);
    TVINSERTSTRUCTA tvis{};
    tvis.hParent = hParent;
    tvis.hInsertAfter = hInsertAfter;
    tvis.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE | TVIF_PARAM;
    tvis.item.pszText = szDisplayText;
    tvis.item.iImage = iImage;
    tvis.item.iSelectedImage = iSelectedImage;
    tvis.item.state = INDEXTOSTATEIMAGEMASK(fChecked ? kChecked : kUnchecked);
    tvis.item.stateMask = TVIS_STATEIMAGEMASK;
    tvis.item.lParam = reinterpret_cast<LPARAM>(pNode);
    HTREEITEM hItem = TreeView_InsertItem(hTree, &tvis);
    if (!hItem) {
        pShellMalloc->Free(pNode);
        InternalError(kModule, __LINE__);
        return nullptr;
    }
    if (!fChecked && pNode->hParentItem)
        MarkAncestorsPartial(pNode->hParentItem);
    return hItem;
}

void ToggleTreeItem(HTREEITEM hItem) {
    UINT uNewState = TreeItemState(hItem) == kUnchecked ? kChecked : kUnchecked;
    SetStateImage(hItem, uNewState);
    TREENODE* pNode = NodeOf(hItem);
    if (!pNode) {
        InternalError(kModule, __LINE__);
        return;
    }
    if (pNode->pAction) {
        DescribeAction(DialogOfTree(), pNode->pAction);
        pNode->pAction->fSelected = uNewState == kChecked ? 1 : 0;
        if (uNewState == kUnchecked)
            MarkAncestorsPartial(pNode->hParentItem);
    } else {
        SetDialogStatus(DialogOfTree(), kOnlyCheckedText);
        if (pNode->wCategory >= 1 && pNode->wCategory <= kCategoryCount)
            SetCategoryState(uNewState, CategoryItems[pNode->wCategory]);
    }
    RefreshCategoryStates();
}

void SetCategoryState(UINT uState, HTREEITEM hCategory) {
    if (!hCategory)
        return;
    HTREEITEM hChild = TreeView_GetChild(hwndTree, hCategory);
    if (!hChild)
        return;
    for (; hChild; hChild = TreeView_GetNextSibling(hwndTree, hChild)) {
        if (!ApplyState(uState, hChild))
            return;
    }
    ApplyState(uState, hCategory);
}

void MarkAncestorsPartial(HTREEITEM hItem) {
    while (hItem) {
        TREENODE* pNode = NodeOf(hItem);
        if (!pNode)
            return;
        if (pNode->pAction)
            pNode->pAction->fSelected = 1;
        SetStateImage(hItem, kPartlyChecked);
        hItem = pNode->hParentItem;
    }
}

void RefreshCategoryStates() {
    for (WORD c = 1; c <= kCategoryCount; ++c) {
        HTREEITEM hCategory = CategoryItems[c];
        if (hCategory && TreeView_GetChild(hwndTree, hCategory))
            SetStateImage(hCategory, SummaryOfChildren(hCategory));
    }
}

int ExpandOnEnter(HWND) {
    if (GetFocus() != hwndTree)
        return 0;
    HTREEITEM hCaret = TreeView_GetSelection(hwndTree);
    if (!hCaret || !TreeView_GetChild(hwndTree, hCaret))
        return 0;
    if (TreeView_GetItemState(hwndTree, hCaret, TVIS_EXPANDED) & TVIS_EXPANDED)
        return 0;
    PostMessageA(hwndTree, WM_KEYDOWN, VK_ADD, 0);
    return 1;
}

LRESULT CALLBACK TreeKeyProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
    case WM_KEYDOWN:
        if (wParam != VK_SPACE)
            break;
        OnSpaceBar();
        return 0;
    case WM_KEYUP:
        if (wParam != VK_SPACE)
            break;
        return 0;
    case WM_CHAR:
    case WM_SYSCHAR:
    case WM_DEADCHAR:
    case WM_SYSDEADCHAR:
        return 0;
    default:
        break;
    }
    auto pfnTreeProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    return CallWindowProcA(pfnTreeProc, hwnd, uMsg, wParam, lParam);
}

// Gives every node back to the shell allocator; the items keep no data.
void FreeTreeNodes() {
    if (!hwndTree || !pShellMalloc)
        return;
    for (WORD c = 1; c <= kCategoryCount; ++c) {
        HTREEITEM hCategory = CategoryItems[c];
        if (!hCategory)
            continue;
        for (HTREEITEM h = TreeView_GetChild(hwndTree, hCategory); h;
             h = TreeView_GetNextSibling(hwndTree, h))
            ReleaseNode(h);
        ReleaseNode(hCategory);
        CategoryItems[c] = nullptr;
    }
}

INT_PTR CALLBACK TreeDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return GuardedDialogBody(hDlg, [&] { return HandleTreeMessage(hDlg, uMsg, wParam, lParam); });
}
