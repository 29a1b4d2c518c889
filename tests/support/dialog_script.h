// Drives an open dialog as a person would, from a thread of its own: the
// robot hands over the dialog, the script clicks, types and reads controls,
// and waits for the boxes its actions bring up to be answered.
#pragma once

#include "robot.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <thread>

class DialogScript {
  public:
    explicit DialogScript(Robot& robot) : robot_(robot) {}
    ~DialogScript() { Join(); }
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    // Expects a dialog with this caption and runs the script on it.
    void Expect(const std::string& caption, std::function<void(HWND)> script);
    void Join();

    // Waits until the robot has handled n windows in all and every box it
    // answered has closed; after the bound the case fails, naming the
    // windows then open.
    bool WaitForWindows(size_t n, DWORD dwTimeoutMs = 20000);

  private:
    Robot& robot_;
    std::thread thread_;
};

// Whether the condition comes to hold within the time (stretched by the
// machine's pace, as every bound here); false is no failure (a check that
// something does not happen).
bool HoldsWithin(const std::function<bool()>& condition, DWORD dwTimeoutMs);
// Waits until the condition holds; after the bound the case fails with what
// it waited for and the windows then open.
bool WaitUntil(const std::function<bool()>& condition, const std::string& what,
               DWORD dwTimeoutMs = 20000);
// Clicks a button of the dialog (without waiting for what it brings up),
// once no box of the dialog's own stands in front of it: a person cannot
// press a window behind its box. A dialog that stays behind one fails the
// case and is not pressed.
void PressButton(HWND hDlg, int id);
void FocusControl(HWND hDlg, HWND hControl);
// Returns once the window's thread has handled everything posted to it so
// far (or has entered a box's loop on the way).
void Settle(HWND hwnd);

// Tree helpers: items by text, state images, and mouse clicks on the part of
// an item that the tree's own hit test names (TVHT_ONITEMLABEL, ...).
HTREEITEM FindTreeItem(HWND hTree, HTREEITEM hParent, const std::string& text);
std::string TreeItemText(HWND hTree, HTREEITEM hItem);
UINT TreeStateImage(HWND hTree, HTREEITEM hItem);
bool IsTreeItemExpanded(HWND hTree, HTREEITEM hItem);
bool ClickTreeItem(HWND hTree, HTREEITEM hItem, UINT uHitFlag, bool fRightButton = false);
void PressKey(HWND hwnd, WPARAM vk);
