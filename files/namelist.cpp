// Sorted name lists: ordered, case-insensitively unique, with entries that
// stay linked once removed.
//
// Beside each list an ordered index on the case-folded names lets AddName,
// RemoveName and FindName find their place without walking the list, so a
// setup that creates tens of thousands of files costs n log n, not n^2. The
// index follows its list as long as only these operations change it; a list
// whose head moved behind its back is read again, and a list whose order the
// index cannot vouch for (an entry renamed out of order) is walked entry by
// entry as before. Either way the list itself is the same.
#include "files/lists.h"

#include "common/strings.h"
#include "common/boxes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

NAMEITEM* NewFolders;
NAMEITEM* NewFiles;
NAMEITEM* Cautions;

namespace {

constexpr size_t kMaxName = kNameItemChars - 1;

struct NameIndex {
    NAMEITEM** ppList = nullptr;
    NAMEITEM* pHead = nullptr; // the head the index last saw
    bool fOrdered = false;     // the list is strictly ascending and indexed
    std::map<std::string, NAMEITEM*> items;
};

std::vector<std::unique_ptr<NameIndex>>& Indexes() {
    static std::vector<std::unique_ptr<NameIndex>> indexes;
    return indexes;
}

bool CheckName(const char* pszName, int iLine) {
    return TextGiven(pszName, "Group", iLine);
}

std::string FoldedKey(const char* pszName) {
    return FoldCase(pszName, std::strlen(pszName));
}

void Rebuild(NameIndex& index) {
    index.items.clear();
    index.pHead = *index.ppList;
    index.fOrdered = true;
    NAMEITEM* pPrev = nullptr;
    for (NAMEITEM* pItem = index.pHead; pItem; pPrev = pItem, pItem = pItem->pNext) {
        if (pPrev && CompareNoCase(pPrev->szName, pItem->szName) >= 0) {
            index.fOrdered = false;
            index.items.clear();
            return;
        }
        index.items.emplace_hint(index.items.end(), FoldedKey(pItem->szName), pItem);
    }
}

NameIndex& IndexOf(NAMEITEM** ppList) {
    for (auto& pIndex : Indexes()) {
        if (pIndex->ppList == ppList) {
            if (pIndex->pHead != *ppList)
                OrOutOfMemory([&] { Rebuild(*pIndex); });
            return *pIndex;
        }
    }
    NameIndex* pIndex = nullptr;
    OrOutOfMemory([&] {
        Indexes().push_back(std::make_unique<NameIndex>());
        pIndex = Indexes().back().get();
        pIndex->ppList = ppList;
        Rebuild(*pIndex);
    });
    return *pIndex;
}

void ForgetIndex(NAMEITEM** ppList) {
    auto& indexes = Indexes();
    indexes.erase(std::remove_if(indexes.begin(), indexes.end(),
                                 [&](const auto& pIndex) { return pIndex->ppList == ppList; }),
                  indexes.end());
}

NAMEITEM* NewItem(WORD wKind, const char* pszName, size_t cch) {
    auto* pItem = static_cast<NAMEITEM*>(AllocZeroedOrDie(sizeof(NAMEITEM)));
    pItem->wKind = wKind;
    pItem->bActive = 1;
    std::memcpy(pItem->szName, pszName, cch);
    pItem->szName[cch] = '\0';
    return pItem;
}

void LinkBefore(NAMEITEM** ppList, NAMEITEM* pItem, NAMEITEM* pBefore, NAMEITEM* pAt) {
    pItem->pPrev = pBefore;
    pItem->pNext = pAt;
    if (pAt)
        pAt->pPrev = pItem;
    if (pBefore)
        pBefore->pNext = pItem;
    else
        *ppList = pItem;
}

// The walk from the head: an equal name ends it, the first greater name is
// the insertion point, running off the end appends.
NAMEITEM* AddNameByWalk(WORD wKind, NAMEITEM** ppList, const char* pszName, size_t cch) {
    std::string name(pszName, cch);
    NAMEITEM* pBefore = nullptr;
    NAMEITEM* pAt = *ppList;
    for (; pAt; pBefore = pAt, pAt = pAt->pNext) {
        int iOrder = CompareNoCase(pAt->szName, name.c_str());
        if (iOrder == 0) {
            pAt->bActive = 1;
            return pAt;
        }
        if (iOrder > 0)
            break;
    }
    NAMEITEM* pItem = NewItem(wKind, pszName, cch);
    LinkBefore(ppList, pItem, pBefore, pAt);
    return pItem;
}

NAMEITEM* AddNameByIndex(NameIndex& index, WORD wKind, const char* pszName, size_t cch) {
    NAMEITEM* pResult = nullptr;
    OrOutOfMemory([&] {
        std::string key = FoldCase(pszName, cch);
        auto it = index.items.lower_bound(key);
        if (it != index.items.end() && it->first == key) {
            it->second->bActive = 1;
            pResult = it->second;
            return;
        }
        NAMEITEM* pAt = it == index.items.end() ? nullptr : it->second;
        NAMEITEM* pBefore =
            pAt ? pAt->pPrev : (index.items.empty() ? nullptr : index.items.rbegin()->second);
        NAMEITEM* pItem = NewItem(wKind, pszName, cch);
        index.items.emplace_hint(it, std::move(key), pItem);
        LinkBefore(index.ppList, pItem, pBefore, pAt);
        pResult = pItem;
    });
    return pResult;
}

NAMEITEM* FindByWalk(NAMEITEM* pList, const char* pszName) {
    for (NAMEITEM* pItem = pList; pItem; pItem = pItem->pNext) {
        if (CompareNoCase(pItem->szName, pszName) == 0)
            return pItem;
    }
    return nullptr;
}

NAMEITEM* FindByIndex(const NameIndex& index, const char* pszName) {
    size_t cch = std::strlen(pszName);
    if (cch > kMaxName)
        return nullptr; // no entry can hold a name this long
    NAMEITEM* pFound = nullptr;
    OrOutOfMemory([&] {
        auto it = index.items.find(FoldCase(pszName, cch));
        if (it != index.items.end())
            pFound = it->second;
    });
    return pFound;
}

// The index that stands for the list beginning at pList, if one does.
const NameIndex* OrderedIndexFor(NAMEITEM* pList) {
    for (auto& pIndex : Indexes()) {
        if (pIndex->fOrdered && pIndex->pHead == pList && *pIndex->ppList == pList)
            return pIndex.get();
    }
    return nullptr;
}

} // namespace

NAMEITEM* AddName(WORD wKind, NAMEITEM** ppList, const char* pszName) {
    if (!CheckName(pszName, __LINE__) || !ppList)
        return nullptr;
    size_t cch = std::min(std::strlen(pszName), kMaxName);
    NameIndex& index = IndexOf(ppList);
    NAMEITEM* pItem = index.fOrdered ? AddNameByIndex(index, wKind, pszName, cch)
                                     : AddNameByWalk(wKind, ppList, pszName, cch);
    index.pHead = *ppList;
    return pItem;
}

NAMEITEM* FindName(NAMEITEM* pList, const char* pszName) {
    if (!CheckName(pszName, __LINE__))
        return nullptr;
    if (!pList)
        return nullptr;
    if (const NameIndex* pIndex = OrderedIndexFor(pList))
        return FindByIndex(*pIndex, pszName);
    return FindByWalk(pList, pszName);
}

int RemoveName(NAMEITEM** ppList, const char* pszName) {
    if (!ppList)
        return 0;
    if (!CheckName(pszName, __LINE__))
        return 0;
    NameIndex& index = IndexOf(ppList);
    NAMEITEM* pItem = index.fOrdered ? FindByIndex(index, pszName) : FindByWalk(*ppList, pszName);
    if (!pItem)
        return 0;
    pItem->bActive = 0;
    return 1;
}

void RenameNameItem(NAMEITEM** ppList, NAMEITEM* pItem, const char* pszName) {
    if (!CheckName(pszName, __LINE__) || !ppList || !pItem)
        return;
    size_t cch = std::min(std::strlen(pszName), kMaxName);
    NameIndex& index = IndexOf(ppList);
    if (index.fOrdered) {
        OrOutOfMemory([&] {
            std::string oldKey = FoldedKey(pItem->szName);
            std::string newKey = FoldCase(pszName, cch);
            if (oldKey == newKey)
                return;
            // The entry keeps its place; the index stays valid only while its
            // new name still sorts between its neighbours.
            bool fStillOrdered = (!pItem->pPrev || FoldedKey(pItem->pPrev->szName) < newKey) &&
                                 (!pItem->pNext || newKey < FoldedKey(pItem->pNext->szName));
            if (!fStillOrdered) {
                index.fOrdered = false;
                index.items.clear();
                return;
            }
            index.items.erase(oldKey);
            index.items.emplace(std::move(newKey), pItem);
        });
    }
    std::memcpy(pItem->szName, pszName, cch);
    pItem->szName[cch] = '\0';
}

void FreeNameList(NAMEITEM** ppList) {
    FreeChain(ppList);
    ForgetIndex(ppList);
}

NAMEITEM* CopyNameList(const NAMEITEM* pList) {
    NAMEITEM* pCopies = nullptr;
    NAMEITEM* pLast = nullptr;
    for (; pList; pList = pList->pNext) {
        auto* pCopy = static_cast<NAMEITEM*>(AllocZeroedOrDie(sizeof(NAMEITEM)));
        *pCopy = *pList;
        LinkBefore(&pCopies, pCopy, pLast, nullptr);
        pLast = pCopy;
    }
    return pCopies;
}

void AddCaution(const char* pszFormat, const char* pszArg) {
    if (!pszFormat || !*pszFormat)
        InternalError("util", __LINE__);
    char szText[1100];
    wsprintfA(szText, pszFormat ? pszFormat : "", pszArg ? pszArg : "");
    if (!AddName(0, &Cautions, szText))
        FatalOutOfMemory();
}
