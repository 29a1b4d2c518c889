#include "dialog_script.h"

#include <vector>

void DialogScript::Expect(const std::string& caption, std::function<void(HWND)> script) {
    robot_.ExpectDialog(caption, [this, script](HWND hDlg) {
        Join();
        thread_ = std::thread([script, hDlg] { script(hDlg); });
    });
}

void DialogScript::Join() {
    if (thread_.joinable())
        thread_.join();
}

bool DialogScript::WaitForWindows(size_t n, DWORD dwTimeoutMs) {
    return WaitUntil([&] { return robot_.Transcript().size() >= n; }, dwTimeoutMs);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs) {
    DWORD dwStart = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - dwStart > dwTimeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

void Settle(HWND hwnd) {
    // A sent message is handled only after the posted ones before it have
    // been taken from the queue by the modal loop, so a round trip settles.
    DWORD_PTR result = 0;
    for (int i = 0; i < 3; ++i) {
        SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
        Sleep(20);
    }
}

void PressButton(HWND hDlg, int id) {
    // A click on the button: it takes the focus, then tells the dialog.
    PostMessageA(GetDlgItem(hDlg, id), BM_CLICK, 0, 0);
}

void FocusControl(HWND hDlg, HWND hControl) {
    PostMessageA(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hControl), TRUE);
    Settle(hDlg);
}

HTREEITEM FindTreeItem(HWND hTree, HTREEITEM hParent, const std::string& text) {
    HTREEITEM hItem = hParent ? TreeView_GetChild(hTree, hParent) : TreeView_GetRoot(hTree);
    for (; hItem; hItem = TreeView_GetNextSibling(hTree, hItem)) {
        if (TreeItemText(hTree, hItem) == text)
            return hItem;
    }
    return nullptr;
}

std::string TreeItemText(HWND hTree, HTREEITEM hItem) {
    char szText[1024] = "";
    TVITEMA item{};
    item.mask = TVIF_TEXT;
    item.hItem = hItem;
    item.pszText = szText;
    item.cchTextMax = sizeof szText;
    SendMessageA(hTree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return szText;
}

UINT TreeStateImage(HWND hTree, HTREEITEM hItem) {
    return (TreeView_GetItemState(hTree, hItem, TVIS_STATEIMAGEMASK) & TVIS_STATEIMAGEMASK) >> 12;
}

bool IsTreeItemExpanded(HWND hTree, HTREEITEM hItem) {
    return (TreeView_GetItemState(hTree, hItem, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
}

namespace {

// A point of the item's row that the tree's hit test reports with the flag.
bool FindHitPoint(HWND hTree, HTREEITEM hItem, UINT uHitFlag, POINT* ppt) {
    RECT rcRow;
    *reinterpret_cast<HTREEITEM*>(&rcRow) = hItem;
    if (!SendMessageA(hTree, TVM_GETITEMRECT, FALSE, reinterpret_cast<LPARAM>(&rcRow)))
        return false;
    int y = (rcRow.top + rcRow.bottom) / 2;
    std::vector<int> hits;
    for (int x = rcRow.left; x < rcRow.right; ++x) {
        TVHITTESTINFO hit{};
        hit.pt = {x, y};
        if (TreeView_HitTest(hTree, &hit) == hItem && (hit.flags & uHitFlag))
            hits.push_back(x);
    }
    if (hits.empty())
        return false;
    *ppt = {hits[hits.size() / 2], y};
    return true;
}

} // namespace

bool ClickTreeItem(HWND hTree, HTREEITEM hItem, UINT uHitFlag, bool fRightButton) {
    POINT pt;
    if (!FindHitPoint(hTree, hItem, uHitFlag, &pt))
        return false;
    POINT ptScreen = pt;
    ClientToScreen(hTree, &ptScreen);
    SetCursorPos(ptScreen.x, ptScreen.y);
    LPARAM lParam = MAKELPARAM(pt.x, pt.y);
    UINT uDown = fRightButton ? WM_RBUTTONDOWN : WM_LBUTTONDOWN;
    UINT uUp = fRightButton ? WM_RBUTTONUP : WM_LBUTTONUP;
    PostMessageA(hTree, uDown, fRightButton ? MK_RBUTTON : MK_LBUTTON, lParam);
    PostMessageA(hTree, uUp, 0, lParam);
    Settle(hTree);
    return true;
}

void PressKey(HWND hwnd, WPARAM vk) {
    PostMessageA(hwnd, WM_KEYDOWN, vk, 1);
    PostMessageA(hwnd, WM_KEYUP, vk, 0xC0000001);
    Settle(hwnd);
}
