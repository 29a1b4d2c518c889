// The uninstall selection dialog: its entry, the carrying out of the chosen
// actions, and what its list and tree forms share.
#pragma once

#include <windows.h>

#include <cstdio>

struct DEACTION;

// Which form is showing: nonzero for the tree, read at every opening.
extern int TreeviewForm;
// Item i of the open dialog stands for the action in slot i.
extern DEACTION** ItemActions;
extern int cItemSlots;

// True while the chosen actions are carried out: undo procedures pump
// messages, and a second press of Uninstall meanwhile must not start a second
// pass over the same actions.
extern bool fCarryingOut;
int CarryOutActions(HWND hDlg);
void CreateStatusFont(HWND hDlg);
// Gives back what the dialog kept in its window: its status font and the
// action whose kind it reported.
void DeleteStatusFont(HWND hDlg);
void DescribeAction(HWND hDlg, DEACTION* pact);
void SetDialogStatus(HWND hDlg, const char* pszText);
// Whether an action starts checked: everything but a created file outside the
// Windows and system folders.
bool StartsChecked(const DEACTION* pact);
// The commands both forms answer alike: Help, Report and Cautions. Returns
// true when the command was one of them.
bool HandleCommonCommand(HWND hDlg, WORD wId);
// F1: the host is told only about help asked for inside this dialog, not
// about help that a dialog it owns (the cautions) passes on to its owner.
void AnswerHelp(HWND hDlg, const HELPINFO* pInfo);
// The Cancel question; true when the user answered Yes.
bool ConfirmCancel(HWND hDlg);
// While the undo pass runs, the dialog keeps the busy cursor.
bool AnswerBusyCursor(HWND hDlg);

inline constexpr char kOnlyCheckedText[] = "Only items that are checked will be uninstalled";
