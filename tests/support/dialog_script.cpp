// The dialog script: a thread that drives a dialog as a person would, and
// the bounded waits and presses it uses.
#include "dialog_script.h"

#include <gtest/gtest.h>

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
    return WaitUntil([&] { return robot_.Answered(n); },
                     std::to_string(n) + " windows handled and their boxes answered", dwTimeoutMs);
}

bool HoldsWithin(const std::function<bool()>& condition, DWORD dwTimeoutMs) {
    dwTimeoutMs = PacedMs(dwTimeoutMs);
    DWORD dwStart = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - dwStart > dwTimeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

bool WaitUntil(const std::function<bool()>& condition, const std::string& what, DWORD dwTimeoutMs) {
    if (HoldsWithin(condition, dwTimeoutMs))
        return true;
    ADD_FAILURE() << "gave up after " << PacedMs(dwTimeoutMs) / 1000.0 << " s waiting for " << what
                  << "\nwindows open:\n"
                  << DescribeOpenWindows();
    return false;
}

namespace {

// Sets the event that a settle marker carries once the window's thread takes
// the marker from its queue: everything posted before it has been handled.
LRESULT CALLBACK SeeSettleMarker(int nCode, WPARAM wParam, LPARAM lParam) {
    static const UINT uMarker = RegisterWindowMessageA("TRUN95 test settle");
    auto* pMsg = reinterpret_cast<const MSG*>(lParam);
    if (nCode == HC_ACTION && wParam == PM_REMOVE && pMsg->message == uMarker)
        SetEvent(reinterpret_cast<HANDLE>(pMsg->wParam));
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

} // namespace

void Settle(HWND hwnd) {
    const UINT uMarker = RegisterWindowMessageA("TRUN95 test settle");
    HANDLE hSettled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HHOOK hHook = SetWindowsHookExA(WH_GETMESSAGE, SeeSettleMarker, nullptr,
                                    GetWindowThreadProcessId(hwnd, nullptr));
    // A window that goes away (its dialog ended) takes the marker with it.
    PostMessageA(hwnd, uMarker, reinterpret_cast<WPARAM>(hSettled), 0);
    WaitUntil([&] { return !IsWindow(hwnd) || WaitForSingleObject(hSettled, 10) == 0; },
              "the window to take what was posted to it");
    UnhookWindowsHookEx(hHook);
    CloseHandle(hSettled);
}

void PressButton(HWND hDlg, int id) {
    std::string what = "the dialog to be free of its box, to press button ";
    what += std::to_string(id);
    if (!WaitUntil([hDlg] { return IsWindowEnabled(hDlg) != FALSE; }, what))
        return;
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
