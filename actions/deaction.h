// The one list of undo actions: record, order, sort and release.
#pragma once

#include <windows.h>

struct DEACTION;
typedef int (*PFNACTION)(DEACTION* pact);

enum : WORD {
    DEA_GROUP = 1,
    DEA_ICON = 2,
    DEA_FOLDER = 3,
    DEA_FILE = 4,
    DEA_RESTORE = 5,
    DEA_REGISTRY = 6,
};

// One heap block: the fixed fields, then the object text inline.
struct DEACTION {
    DEACTION* pNext;
    WORD wKind;
    WORD wOrder;
    DWORD fSelected;
    DWORD fDone;
    char* pszDescription;
    void* pExtra;
    PFNACTION pfnConfirm;
    PFNACTION pfnUndo;
    char szObject[1];
};

extern DEACTION* pActionList;

DEACTION* AddAction(WORD wKind, WORD wOrder, const char* pszFormat, const char* pszArg,
                    PFNACTION pfnConfirm, PFNACTION pfnUndo, const char* pszObject, void* pExtra);
void SortActionList();
int AnyActionToOffer(const DEACTION* pList);
int AnyDeletionSelected();
void FreeActionList();

// Whether an action starts checked in the dialog, when something other than
// its kind decides it: an uninstall from an install log holds back what was
// changed since install. -1 when nothing was said about the action.
void SetStartsChecked(const DEACTION* pact, bool fChecked);
int StartsCheckedAsSaid(const DEACTION* pact);
