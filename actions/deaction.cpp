// The action list: records made in one heap block with the object text
// inline, kept in order-key order, sorted stably, released under a guard.
#include "actions/deaction.h"

#include "common/strings.h"
#include "common/boxes.h"
#include "common/guard.h"
#include "common/internal_error.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>
#include <algorithm>
#include <unordered_map>

DEACTION* pActionList;

namespace {

constexpr size_t kDescriptionBufferSize = 624;

bool CheckText(const char* pszText, int iLine) {
    return TextGiven(pszText, "Deaction", iLine);
}

// Where the list ends and an upper bound of its order keys. Detectors add
// tens of thousands of records in ascending order, mostly at the end; with
// the tail known such an insertion costs nothing instead of a walk. Order
// keys only ever drop after insertion (groups and icons), so the bound stays
// an upper bound; a head that changed behind the list's back sends the next
// insertion through a fresh walk.
struct TailCache {
    DEACTION* pHead = nullptr;
    DEACTION* pTail = nullptr;
    WORD wMaxOrder = 0;
};
TailCache tailCache;

std::unordered_map<const DEACTION*, bool> startsChecked;

void RefreshTailCache() {
    tailCache = TailCache{};
    tailCache.pHead = pActionList;
    for (DEACTION* pact = pActionList; pact; pact = pact->pNext) {
        tailCache.pTail = pact;
        if (pact->wOrder > tailCache.wMaxOrder)
            tailCache.wMaxOrder = pact->wOrder;
    }
}

bool TailCacheValid() {
    return pActionList && tailCache.pHead == pActionList && tailCache.pTail &&
           !tailCache.pTail->pNext;
}

// Inserts before the first record with a greater order key, so records of
// equal order keep the order in which they were added.
void InsertByOrder(DEACTION* pact) {
    if (!TailCacheValid())
        RefreshTailCache();
    if (pActionList && pact->wOrder >= tailCache.wMaxOrder) {
        // No record has a greater key: the first greater one is past the end.
        pact->pNext = nullptr;
        tailCache.pTail->pNext = pact;
    } else {
        DEACTION** ppLink = &pActionList;
        while (*ppLink && (*ppLink)->wOrder <= pact->wOrder)
            ppLink = &(*ppLink)->pNext;
        pact->pNext = *ppLink;
        *ppLink = pact;
    }
    tailCache.pHead = pActionList;
    if (!pact->pNext)
        tailCache.pTail = pact;
    if (pact->wOrder > tailCache.wMaxOrder)
        tailCache.wMaxOrder = pact->wOrder;
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

// A stable ascending sort by order key: records of equal keys keep their
// order, exactly as repeated exchanges of out-of-order neighbours would
// leave them, but in n log n steps for a list of many thousand records.
void SortActionList() {
    std::vector<DEACTION*> records;
    OrOutOfMemory([&] {
        for (DEACTION* pact = pActionList; pact; pact = pact->pNext)
            records.push_back(pact);
    });
    if (records.empty())
        return;
    std::stable_sort(records.begin(), records.end(),
                     [](const DEACTION* a, const DEACTION* b) { return a->wOrder < b->wOrder; });
    for (size_t i = 0; i + 1 < records.size(); ++i)
        records[i]->pNext = records[i + 1];
    records.back()->pNext = nullptr;
    pActionList = records.front();
    RefreshTailCache();
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

void SetStartsChecked(const DEACTION* pact, bool fChecked) {
    startsChecked[pact] = fChecked;
}

int StartsCheckedAsSaid(const DEACTION* pact) {
    auto it = startsChecked.find(pact);
    return it == startsChecked.end() ? -1 : (it->second ? 1 : 0);
}

void FreeActionList() {
    tailCache = TailCache{};
    startsChecked.clear();
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
