// Sorted name lists: ordered, case-insensitively unique, with entries that
// stay linked once removed.
#include "files/lists.h"

#include "common/util.h"

#include <cstdlib>

NAMEITEM* NewFolders;
NAMEITEM* NewFiles;
NAMEITEM* Cautions;

namespace {

bool CheckName(const char* pszName, int iLine) {
    if (pszName && *pszName)
        return true;
    InternalError("Group", iLine);
    return false;
}

} // namespace

NAMEITEM* AddName(WORD wKind, NAMEITEM** ppList, const char* pszName) {
    if (!CheckName(pszName, __LINE__) || !ppList)
        return nullptr;
    NAMEITEM* pBefore = nullptr;
    NAMEITEM* pAt = *ppList;
    for (; pAt; pBefore = pAt, pAt = pAt->pNext) {
        int iOrder = CompareNoCase(pAt->szName, pszName);
        if (iOrder == 0) {
            pAt->bActive = 1;
            return pAt;
        }
        if (iOrder > 0)
            break;
    }
    NAMEITEM* pItem = static_cast<NAMEITEM*>(AllocZeroedOrDie(sizeof(NAMEITEM)));
    pItem->wKind = wKind;
    pItem->bActive = 1;
    lstrcpynA(pItem->szName, pszName, kNameItemChars);
    pItem->pPrev = pBefore;
    pItem->pNext = pAt;
    if (pAt)
        pAt->pPrev = pItem;
    if (pBefore)
        pBefore->pNext = pItem;
    else
        *ppList = pItem;
    return pItem;
}

NAMEITEM* FindName(NAMEITEM* pList, const char* pszName) {
    if (!CheckName(pszName, __LINE__))
        return nullptr;
    for (NAMEITEM* pItem = pList; pItem; pItem = pItem->pNext) {
        if (CompareNoCase(pItem->szName, pszName) == 0)
            return pItem;
    }
    return nullptr;
}

int RemoveName(NAMEITEM** ppList, const char* pszName) {
    NAMEITEM* pItem = ppList ? FindName(*ppList, pszName) : nullptr;
    if (!pItem)
        return 0;
    pItem->bActive = 0;
    return 1;
}

void FreeNameList(NAMEITEM** ppList) {
    NAMEITEM* pItem = *ppList;
    while (pItem) {
        NAMEITEM* pNext = pItem->pNext;
        std::free(pItem);
        pItem = pNext;
    }
    *ppList = nullptr;
}
