// State that a stretch of work changes while it runs and must find put back
// when a fault abandons it: listings, open handles, the carrying out of
// actions and the dialogs it runs. The 32-bit build unwinds a processor fault by
// jumping back into the guard, and the 64-bit build runs no destructors for
// one either, so nothing here may rely on a destructor: the guard that
// catches puts the state back to the mark it took when it was entered.
#pragma once

#include "common/pathsearch.h"

struct DialogFrame;

struct StateMark {
    SearchMark searches;
    HandleMark handles;
    bool fCarryingOut;
    DialogFrame* pDialogFrame;
};

StateMark MarkState();
void PutBackState(const StateMark& mark);

// At the start of a session nothing of an earlier one may be left open:
// listings, registry keys, directory searches, files and the carrying out
// of actions.
void ForgetAbandonedState();

// The dialogs run by DialogBoxGuarded, innermost first.
DialogFrame* InnermostDialogFrame();
void SetInnermostDialogFrame(DialogFrame* pFrame);
