// The uninstall selection dialog (list and tree forms), the report and the
// cautions dialog.
#pragma once

#include <windows.h>

#include <cstdio>

struct DEACTION;

// Which form is showing: nonzero for the tree, read at every opening.
extern int TreeviewForm;
// Item i of the open dialog stands for the action in slot i.
extern DEACTION** ItemActions;
extern int cItemSlots;

int CarryOutActions(HWND hDlg);
void CreateStatusFont(HWND hDlg);
void DeleteStatusFont();
void DescribeAction(HWND hDlg, DEACTION* pact);
void SetDialogStatus(HWND hDlg, const char* pszText);
// Whether an action starts checked: everything but a created file outside the
// Windows and system folders.
bool StartsChecked(const DEACTION* pact);
// The commands both forms answer alike: Help, Report and Cautions. Returns
// true when the command was one of them.
bool HandleCommonCommand(HWND hDlg, WORD wId);
// The Cancel question; true when the user answered Yes.
bool ConfirmCancel(HWND hDlg);
// While the undo pass runs, the dialog keeps the busy cursor.
bool AnswerBusyCursor(HWND hDlg);

INT_PTR CALLBACK ListDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK TreeDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

void WriteReport(HWND hwndOwner);
// Writes the report text into an open file; shared by WriteReport and tests.
void WriteReportTo(FILE* pFile);
// Writes the same items for programs to read: one line each, kind, object and
// the report's text, separated by tabs; cautions first.
void WriteItemListTo(FILE* pFile);
void ShowCautions(HWND hwndOwner);

inline constexpr char kOnlyCheckedText[] = "Only items that are checked will be uninstalled";
