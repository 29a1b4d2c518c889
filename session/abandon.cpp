// Puts back what a stretch abandoned by a fault leaves changed: open
// listings and directory searches, the carrying out of actions, and the
// dialogs it was running.
#include "session/abandon.h"

#include "dialog/dedlg.h"

StateMark MarkState() {
    return StateMark{MarkSearches(), fCarryingOut, InnermostDialogFrame()};
}

void PutBackState(const StateMark& mark) {
    CloseSearchesAfter(mark.searches);
    fCarryingOut = mark.fCarryingOut;
    SetInnermostDialogFrame(mark.pDialogFrame);
}

void ForgetAbandonedState() {
    CloseSearchesAfter(SearchMark{nullptr, 0});
    fCarryingOut = false;
}
