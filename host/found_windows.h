// Finding and reading the windows a person would answer: the visible
// dialogs and message boxes of some processes, their captions and texts.
// The host's unattended user and the tests' robot both work from these.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// How long a window's thread may take to give a text before the window is
// taken for hung.
constexpr DWORD kWindowTextWaitMs = 1000;
// The window's text; a window whose thread does not answer within dwWaitMs
// gives the empty text.
std::string WindowText(HWND hwnd, DWORD dwWaitMs = kWindowTextWaitMs);
// The text of a message box (its static control 0xFFFF).
std::string MessageBoxText(HWND hwnd);
bool IsDialogWindow(HWND hwnd);
// Returns once the window's thread has finished what it was doing and looks
// for messages again (a box just shown has then filled its controls); false
// when it did not within dwWaitMs.
bool WaitUntilWindowIdle(HWND hwnd, DWORD dwWaitMs);
bool IsMessageBox(HWND hwnd);

// The visible top-level windows of the processes (of every process when the
// list is empty), or only their dialogs.
std::vector<HWND> VisibleWindowsOf(std::vector<DWORD> processes, bool fDialogsOnly);
std::vector<HWND> VisibleDialogsOf(std::vector<DWORD> processes);
std::vector<HWND> VisibleDialogsOfThisProcess();

// The texts of a dialog's static controls, joined by line breaks. A text
// that its window does not give within dwWaitMs is left out.
std::string DialogStaticTexts(HWND hDlg, DWORD dwWaitMs = kWindowTextWaitMs);
// The labels of a dialog's visible push buttons as a person reads them
// (without ampersands), joined by ", ".
std::string DialogButtonLabels(HWND hDlg, DWORD dwWaitMs);
// What a person would see of the processes' visible top-level windows, one
// line each: caption, class, texts, buttons, and whether it can be used (a
// window behind a box of its own cannot). Never waits on a hung window for
// longer than dwWaitMs per text.
std::string DescribeWindowsOf(std::vector<DWORD> processes, DWORD dwWaitMs);
