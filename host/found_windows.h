// Finding and reading the windows a person would answer: the visible
// dialogs and message boxes of some processes, their captions and texts.
// The host's unattended user and the tests' robot both work from these.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The window's text. With a wait other than INFINITE, a window whose thread
// does not answer in time gives the empty text.
std::string WindowText(HWND hwnd, DWORD dwWaitMs = INFINITE);
// The text of a message box (its static control 0xFFFF).
std::string MessageBoxText(HWND hwnd);
bool IsDialogWindow(HWND hwnd);
bool IsMessageBox(HWND hwnd);

// The visible top-level windows of the processes, or only their dialogs.
std::vector<HWND> VisibleWindowsOf(std::vector<DWORD> processes, bool fDialogsOnly);
std::vector<HWND> VisibleDialogsOf(std::vector<DWORD> processes);
std::vector<HWND> VisibleDialogsOfThisProcess();
