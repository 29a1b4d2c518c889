// Placeholder action-list operations, filled by the actions work.
#include "actions/deaction.h"

DEACTION* pActionList;

void SortActionList() {}
int AnyActionToOffer(const DEACTION* pList) {
    for (; pList; pList = pList->pNext) {
        if (pList->fDone != 1)
            return 1;
    }
    return 0;
}
void FreeActionList() {
    pActionList = nullptr;
}
