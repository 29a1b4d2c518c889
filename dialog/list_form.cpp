// The uninstall dialog's list form: an owner-drawn multiple-selection list in
// which an item's selection is its check mark.
#include "dialog/list_form.h"

#include "actions/deaction.h"
#include "common/boxes.h"

#include "dialog/dedlg.h"
#include "files/lists.h"
#include "resources/resource.h"
#include "common/guard.h"

#include <vector>

namespace {

constexpr int kExtentMargin = 4;
constexpr int kBoxIndent = 4;

HWND ItemList(HWND hDlg) {
    return GetDlgItem(hDlg, IDC_ITEM_LIST);
}

// Items are as high as a line of the dialog's own (default) font.
void MeasureActionItem(HWND hDlg, MEASUREITEMSTRUCT* pmis) {
    HDC hdc = GetDC(hDlg);
    TEXTMETRICA tm{};
    GetTextMetricsA(hdc, &tm);
    ReleaseDC(hDlg, hdc);
    pmis->itemHeight = static_cast<UINT>(tm.tmHeight + tm.tmExternalLeading);
}

// Adds one item per action still to be done, checked as the action starts.
// Returns the widest text.
WORD FillActionList(HWND hDlg, HWND hList) {
    HDC hdc = GetDC(hDlg);
    WORD wWidest = 0;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if (pact->fDone)
            continue;
        const char* pszText = pact->pszDescription ? pact->pszDescription : "";
        int iItem = static_cast<int>(
            SendMessageA(hList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(pszText)));
        if (iItem < 0)
            continue;
        SIZE size{};
        GetTextExtentPoint32A(hdc, pszText, lstrlenA(pszText), &size);
        if (static_cast<WORD>(size.cx) > wWidest)
            wWidest = static_cast<WORD>(size.cx);
        SendMessageA(hList, LB_SETSEL, StartsChecked(pact) ? TRUE : FALSE, iItem);
        if (iItem < cItemSlots)
            ItemActions[iItem] = pact;
    }
    ReleaseDC(hDlg, hdc);
    return wWidest;
}

// Tells the user to scroll when not every item fits.
void ApplyLabelRule(HWND hDlg, HWND hList) {
    RECT rcClient;
    GetClientRect(hList, &rcClient);
    int cyItem = static_cast<int>(SendMessageA(hList, LB_GETITEMHEIGHT, 0, 0));
    int cItems = static_cast<int>(SendMessageA(hList, LB_GETCOUNT, 0, 0));
    if (cyItem > 0 && cItems > rcClient.bottom / cyItem)
        SetDlgItemTextA(hDlg, IDC_ITEMS_LABEL,
                        "&Select Items to Uninstall.  Use scrollbar to see more items.");
}

INT_PTR InitListDialog(HWND hDlg) {
    CenterWindow(hDlg);
    CreateStatusFont(hDlg);
    if (!Cautions)
        DestroyWindow(GetDlgItem(hDlg, IDC_CAUTIONS));
    HWND hList = ItemList(hDlg);
    WORD wWidest = FillActionList(hDlg, hList);
    SendMessageA(hList, LB_SETHORIZONTALEXTENT, wWidest + kExtentMargin, 0);
    SendMessageA(hList, LB_SETCARETINDEX, 0, FALSE);
    ApplyLabelRule(hDlg, hList);
    SetDialogStatus(hDlg, kOnlyCheckedText);
    return TRUE;
}

void DrawCheckBox(HDC hdc, const RECT& rcBox, bool fChecked) {
    FrameRect(hdc, &rcBox, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    if (fChecked) {
        MoveToEx(hdc, rcBox.left, rcBox.top, nullptr);
        LineTo(hdc, rcBox.right, rcBox.bottom);
        MoveToEx(hdc, rcBox.right - 1, rcBox.top, nullptr);
        LineTo(hdc, rcBox.left - 1, rcBox.bottom);
    } else {
        RECT rcInside = rcBox;
        InflateRect(&rcInside, -1, -1);
        FillRect(hdc, &rcInside, GetSysColorBrush(COLOR_WINDOW));
    }
}

std::vector<char> ItemText(HWND hList, UINT iItem) {
    LRESULT cch = SendMessageA(hList, LB_GETTEXTLEN, iItem, 0);
    std::vector<char> text(cch > 0 ? static_cast<size_t>(cch) + 1 : 1, '\0');
    if (cch > 0)
        SendMessageA(hList, LB_GETTEXT, iItem, reinterpret_cast<LPARAM>(text.data()));
    return text;
}

void DrawActionItem(HWND hDlg, const DRAWITEMSTRUCT* pdis) {
    HDC hdc = pdis->hDC;
    FillRect(hdc, &pdis->rcItem, GetSysColorBrush(COLOR_WINDOW));
    bool fRealItem = pdis->itemID != static_cast<UINT>(-1);
    if (fRealItem) {
        std::vector<char> text = ItemText(pdis->hwndItem, pdis->itemID);
        RECT rc = pdis->rcItem;
        int cy = rc.bottom - rc.top;
        rc.left += kBoxIndent;
        RECT rcBox = {rc.left, rc.top + 1, rc.left + cy - 2, rc.bottom - 1};
        DrawCheckBox(hdc, rcBox, (pdis->itemState & ODS_SELECTED) != 0);
        rc.left += cy - 2 + kBoxIndent;
        COLORREF crOldText = SetTextColor(hdc, GetSysColor(COLOR_WINDOWTEXT));
        COLORREF crOldBack = SetBkColor(hdc, GetSysColor(COLOR_WINDOW));
        DrawTextA(hdc, text.data(), -1, &rc, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        SetTextColor(hdc, crOldText);
        SetBkColor(hdc, crOldBack);
    }
    if (pdis->itemState & ODS_FOCUS) {
        DrawFocusRect(hdc, &pdis->rcItem);
        if (fRealItem && static_cast<int>(pdis->itemID) < cItemSlots && ItemActions[pdis->itemID])
            DescribeAction(hDlg, ItemActions[pdis->itemID]);
    }
}

void SelectAllItems(HWND hDlg) {
    HWND hList = ItemList(hDlg);
    int cItems = static_cast<int>(SendMessageA(hList, LB_GETCOUNT, 0, 0));
    // Runs of items still to do are selected at once, with one repaint at
    // the end: big installs have thousands of items.
    SendMessageA(hList, WM_SETREDRAW, FALSE, 0);
    int iRunStart = -1;
    for (int i = 0; i <= cItems; ++i) {
        bool fToDo = i < cItems && i < cItemSlots && ItemActions[i] && !ItemActions[i]->fDone;
        if (fToDo && iRunStart < 0)
            iRunStart = i;
        if (!fToDo && iRunStart >= 0) {
            SendMessageA(hList, LB_SELITEMRANGEEX, iRunStart, i - 1);
            iRunStart = -1;
        }
    }
    SendMessageA(hList, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hList, nullptr, FALSE);
}

void OnListCommand(HWND hDlg, WORD wId, WORD wNotify) {
    switch (wId) {
    case IDOK:
        SetFocus(GetDlgItem(hDlg, IDOK));
        if (CarryOutActions(hDlg))
            EndDialog(hDlg, 1);
        break;
    case IDCANCEL:
        if (ConfirmCancel(hDlg))
            EndDialog(hDlg, 1);
        break;
    case IDC_SELECT_ALL:
        SelectAllItems(hDlg);
        break;
    case IDC_ITEM_LIST:
        if (wNotify == LBN_KILLFOCUS)
            SetDialogStatus(hDlg, kOnlyCheckedText);
        break;
    default:
        HandleCommonCommand(hDlg, wId);
        break;
    }
}

INT_PTR HandleListMessage(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
    case WM_MEASUREITEM:
        MeasureActionItem(hDlg, reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_INITDIALOG:
        return InitListDialog(hDlg);
    case WM_DRAWITEM:
        DrawActionItem(hDlg, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_SETCURSOR:
        return AnswerBusyCursor(hDlg) ? TRUE : FALSE;
    case WM_HELP:
        AnswerHelp(hDlg, reinterpret_cast<const HELPINFO*>(lParam));
        return TRUE;
    case WM_DESTROY:
        DeleteStatusFont(hDlg);
        return FALSE;
    case WM_COMMAND:
        OnListCommand(hDlg, LOWORD(wParam), HIWORD(wParam));
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR CALLBACK ListDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return GuardedDialogBody(hDlg, [&] { return HandleListMessage(hDlg, uMsg, wParam, lParam); });
}
