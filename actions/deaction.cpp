// The action list: records made in one heap block with the object text
// inline, kept in order-key order, sorted stably, released under a guard.
#include "actions/deaction.h"

#include "common/util.h"
#include "session/guard.h"
#include "session/report.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

DEACTION* pActionList;

namespace {

constexpr size_t kDescriptionBufferSize = 624;

bool CheckText(const char* pszText, int iLine) {
    if (pszText && *pszText)
        return true;
    InternalError("Deaction", iLine);
    return false;
}

// Inserts before the first record with a greater order key, so records of
// equal order keep the order in which they were added.
void InsertByOrder(DEACTION* pact) {
    DEACTION** ppLink = &pActionList;
    while (*ppLink && (*ppLink)->wOrder <= pact->wOrder)
        ppLink = &(*ppLink)->pNext;
    pact->pNext = *ppLink;
    *ppLink = pact;
}

bool OwnsExtra(const DEACTION* pact) {
    return pact->wKind == DEA_GROUP || pact->wKind == DEA_ICON;
}

} // namespace

DEACTION* AddAction(WORD wKind, WORD wOrder, const char* pszFormat, const char* pszArg,
                    PFNACTION pfnConfirm, PFNACTION pfnUndo, const char* pszObject, void* pExtra) {
    CheckText(pszFormat, __LINE__);
    CheckText(pszArg, __LINE__);
    CheckText(pszObject, __LINE__);
    // The argument is inserted as text: a long one is cut to the buffer, and
    // a percent sign in it is shown as it stands.
    char szDescription[kDescriptionBufferSize];
    std::snprintf(szDescription, sizeof szDescription, pszFormat ? pszFormat : "",
                  pszArg ? pszArg : "");
    size_t cchDescription = std::strlen(szDescription);
    size_t cchObject = TextLength(pszObject);
    char* pszDescription = static_cast<char*>(std::malloc(cchDescription + 1));
    DEACTION* pact =
        static_cast<DEACTION*>(std::malloc(offsetof(DEACTION, szObject) + cchObject + 1));
    if (!pszDescription || !pact) {
        std::free(pszDescription);
        std::free(pact);
        FatalOutOfMemory();
    }
    std::memset(pact, 0, offsetof(DEACTION, szObject) + 1);
    pact->wKind = wKind;
    pact->wOrder = wOrder;
    pact->pExtra = pExtra;
    pact->pfnConfirm = pfnConfirm;
    pact->pfnUndo = pfnUndo;
    std::memcpy(pszDescription, szDescription, cchDescription + 1);
    pact->pszDescription = pszDescription;
    if (cchObject)
        std::memcpy(pact->szObject, pszObject, cchObject);
    pact->szObject[cchObject] = '\0';
    InsertByOrder(pact);
    return pact;
}

// Stable exchange sort by order key: passes over the chain, swapping
// neighbours whose order keys are out of order, until a pass swaps nothing.
void SortActionList() {
    size_t cRecords = 0;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext)
        ++cRecords;
    for (size_t iPass = 0; iPass < cRecords; ++iPass) {
        bool fExchanged = false;
        for (DEACTION** ppLink = &pActionList; *ppLink && (*ppLink)->pNext;
             ppLink = &(*ppLink)->pNext) {
            DEACTION* pFirst = *ppLink;
            DEACTION* pSecond = pFirst->pNext;
            if (pFirst->wOrder > pSecond->wOrder) {
                pFirst->pNext = pSecond->pNext;
                pSecond->pNext = pFirst;
                *ppLink = pSecond;
                fExchanged = true;
            }
        }
        if (!fExchanged)
            break;
    }
}

int AnyActionToOffer(const DEACTION* pList) {
    for (; pList; pList = pList->pNext) {
        if (pList->fDone != 1)
            return 1;
    }
    return 0;
}

int AnyDeletionSelected() {
    for (const DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        if ((pact->wKind == DEA_FOLDER || pact->wKind == DEA_FILE) && pact->fSelected)
            return 1;
    }
    return 0;
}

void FreeActionList() {
    if (!Guarded([] {
            while (DEACTION* pact = pActionList) {
                pActionList = pact->pNext;
                std::free(pact->pszDescription);
                if (OwnsExtra(pact))
                    std::free(pact->pExtra);
                std::free(pact);
            }
        }))
        ReportInternalException("Deaction", 1, __LINE__);
}
