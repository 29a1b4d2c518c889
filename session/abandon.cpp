// Puts back what a stretch abandoned by a fault leaves changed: open
// listings and handles, the carrying out of actions, and the dialogs it was
// running.
#include "session/abandon.h"

#include "dialog/dedlg.h"

StateMark MarkState() {
    return StateMark{MarkSearches(), MarkOpenHandles(), fCarryingOut, InnermostDialogFrame()};
}

void PutBackState(const StateMark& mark) {
    CloseSearchesAfter(mark.searches);
    CloseHandlesOpenedAfter(mark.handles);
    fCarryingOut = mark.fCarryingOut;
    SetInnermostDialogFrame(mark.pDialogFrame);
}

void ForgetAbandonedState() {
    CloseSearchesAfter(SearchMark{nullptr});
    CloseHandlesOpenedAfter(0);
    fCarryingOut = false;
}
