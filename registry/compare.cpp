// Comparison of two registry snapshots: every key only before is reported as
// deleted, every key only after as added, every key in both whose values
// differ as changed; the reports become registry undo actions.
#include "registry/compare.h"

#include "registry/snapshot.h"
#include "registry/restore.h"
#include "registry/wide_names.h"

#include "actions/deaction.h"
#include "common/strings.h"
#include "common/status.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/internal_error.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Below this many children a plain walk of the chain is cheapest.
constexpr size_t cIndexThreshold = 16;

void CheckCallbacks(PFNREGCHANGE iRegValueChange, PFNREGCHANGE iRegKeyChange) {
    if (!iRegValueChange)
        ReportAssertion("iRegValueChange", "Registry", __LINE__);
    if (!iRegKeyChange)
        ReportAssertion("iRegKeyChange", "Registry", __LINE__);
}

// The registry lists subkeys in the order of their names with letters folded
// to capitals, every other byte as it is. Names equal in this order are
// exactly the names equal with letters A to Z folded either way.
int CompareListingOrder(const char* pszA, const char* pszB) {
    for (;; ++pszA, ++pszB) {
        unsigned char a = static_cast<unsigned char>(*pszA);
        unsigned char b = static_cast<unsigned char>(*pszB);
        if (a >= 'a' && a <= 'z')
            a = static_cast<unsigned char>(a - ('a' - 'A'));
        if (b >= 'a' && b <= 'z')
            b = static_cast<unsigned char>(b - ('a' - 'A'));
        if (a != b)
            return a < b ? -1 : 1;
        if (a == '\0')
            return 0;
    }
}

bool IsInListingOrder(const RTREE* pFirst) {
    for (const RTREE* p = pFirst; p && p->pNext; p = p->pNext) {
        if (CompareListingOrder(p->pszName, p->pNext->pszName) > 0)
            return false;
    }
    return true;
}

// The children of one node, ready to be matched by name (A to Z folded).
// Matches come out in chain order, every one of them, as a walk of the
// whole chain would find them; with many children they are found through a
// sorted index instead of that walk.
class ChildIndex {
  public:
    explicit ChildIndex(RTREE* pFirst) : pFirst_(pFirst) {
        size_t cChildren = 0;
        for (RTREE* p = pFirst; p && cChildren < cIndexThreshold; p = p->pNext)
            ++cChildren;
        if (cChildren < cIndexThreshold)
            return;
        for (RTREE* p = pFirst; p; p = p->pNext)
            sorted_.push_back(p);
        std::stable_sort(sorted_.begin(), sorted_.end(), NameLess);
    }

    template <class Visit> bool ForEachMatch(const char* pszName, Visit&& visit) const {
        bool fFound = false;
        if (sorted_.empty()) {
            for (RTREE* p = pFirst_; p; p = p->pNext) {
                if (CompareNoCase(p->pszName, pszName) == 0) {
                    visit(p);
                    fFound = true;
                }
            }
            return fFound;
        }
        auto it = std::lower_bound(
            sorted_.begin(), sorted_.end(), pszName,
            [](const RTREE* p, const char* psz) { return CompareNoCase(p->pszName, psz) < 0; });
        for (; it != sorted_.end() && CompareNoCase((*it)->pszName, pszName) == 0; ++it) {
            visit(*it);
            fFound = true;
        }
        return fFound;
    }

  private:
    static bool NameLess(const RTREE* a, const RTREE* b) {
        return CompareNoCase(a->pszName, b->pszName) < 0;
    }
    RTREE* pFirst_;
    std::vector<RTREE*> sorted_;
};

// Two chains both in the registry's listing order are matched in one pass
// down both; visit gets each match, lone each child of a without one.
template <class Visit, class Lone>
void MergeSortedChains(RTREE* a, RTREE* b, Visit&& visit, Lone&& lone) {
    for (RTREE* x = a; x; x = x->pNext) {
        while (b && CompareListingOrder(b->pszName, x->pszName) < 0)
            b = b->pNext;
        bool fFound = false;
        for (RTREE* y = b; y && CompareListingOrder(y->pszName, x->pszName) == 0; y = y->pNext) {
            visit(x, y);
            fFound = true;
        }
        if (!fFound)
            lone(x);
    }
}

// Matches every child of a with the children of b of the same name, in the
// order of a's chain and, for one child, of b's chain.
template <class Visit, class Lone>
void MatchChildren(RTREE* a, RTREE* b, Visit&& visit, Lone&& lone) {
    if (IsInListingOrder(a) && IsInListingOrder(b)) {
        MergeSortedChains(a, b, visit, lone);
        return;
    }
    ChildIndex others(b);
    for (RTREE* x = a; x; x = x->pNext) {
        if (!others.ForEachMatch(x->pszName, [&](RTREE* y) { visit(x, y); }))
            lone(x);
    }
}

// Appends a backslash and the name, cutting it where the buffer ends.
void AppendPathComponent(char* pszPath, size_t cchPath, const char* pszName) {
    if (cchPath + 1 >= cbRegPath)
        return;
    pszPath[cchPath] = '\\';
    lstrcpynA(pszPath + cchPath + 1, pszName, static_cast<int>(cbRegPath - cchPath - 1));
}

// Reports a key that only one side has: fInFirst when it is a's (the first
// tree of this pass). Forward, a is the before tree: its lone keys were
// deleted; reverse, a is the after tree: its lone keys were added.
void ReportKey(int iDirection, RTREE* pNode, bool fInFirst, PFNREGCHANGE iRegKeyChange,
               const char* pszPath) {
    bool fDeleted = (iDirection == REG_FORWARD) == fInFirst;
    pNode->dwChange = fDeleted ? REG_KEY_DELETED : REG_KEY_ADDED;
    iRegKeyChange(pszPath, pNode->pszName, pNode->dwChange, pNode);
}

// Makes one registry action: "<category> <parent path>\<name>".
void AddRegistryAction(UINT idCategory, const char* pszParentPath, const char* pszName,
                       RTREE* pNode) {
    char szCategory[64];
    lstrcpynA(szCategory, GetResString(idCategory), sizeof szCategory);
    char szText[cbRegPath];
    std::snprintf(szText, sizeof szText, "%s %s\\%s", szCategory, pszParentPath, pszName);
    // The list shows names as ANSI text; the node keeps the exact name.
    AddAction(DEA_REGISTRY, 6, "%s", ShownRegistryText(szText).c_str(), AcceptRegistryAction,
              DoRegistryAction, szCategory, pNode);
}

} // namespace

int IgnoreRegistryChange(const char*, const char*, DWORD, RTREE*) {
    return 1;
}

bool SameRegistryValues(const RDATA* a, const RDATA* b) {
    for (; a && b; a = a->pNext, b = b->pNext) {
        if (a->cbData != b->cbData || a->dwType != b->dwType ||
            CompareNoCase(a->pszName, b->pszName) != 0 ||
            std::memcmp(a->abData, b->abData, a->cbData) != 0)
            return false;
    }
    return !a && !b;
}

int CompareRegistryNodes(int iDirection, RTREE* a, RTREE* b, PFNREGCHANGE iRegValueChange,
                         PFNREGCHANGE iRegKeyChange, char* pszPath) {
    CheckCallbacks(iRegValueChange, iRegKeyChange);
    PumpMessagesWhenDue();
    if (!a) {
        if (b)
            ReportKey(iDirection, b, false, iRegKeyChange, pszPath);
        return 1;
    }
    if (!b) {
        ReportKey(iDirection, a, true, iRegKeyChange, pszPath);
        return 1;
    }
    // Below a key the before snapshot could not read nothing is known to be
    // added: what is there now may have been there before.
    if (iDirection == REG_REVERSE && b->fUnreadable)
        return 1;
    MatchChildren(
        a->pChild, b->pChild,
        [&](RTREE* x, RTREE* y) {
            if (iDirection == REG_FORWARD && !SameRegistryValues(x->pData, y->pData)) {
                x->dwChange = REG_VALUES_CHANGED;
                iRegValueChange(pszPath, x->pszName, REG_VALUES_CHANGED, x);
            }
            size_t cchPath = std::strlen(pszPath);
            AppendPathComponent(pszPath, cchPath, x->pszName);
            CompareRegistryNodes(iDirection, x, y, iRegValueChange, iRegKeyChange, pszPath);
            pszPath[cchPath] = '\0';
        },
        [&](RTREE* x) { ReportKey(iDirection, x, true, iRegKeyChange, pszPath); });
    return 1;
}

void CompareRegistrySnapshots(REGTRE** ppBefore, REGTRE** ppAfter, PFNREGCHANGE iRegValueChange,
                              PFNREGCHANGE iRegKeyChange) {
    REGTRE* p = *ppBefore;
    REGTRE* q = *ppAfter;
    for (int i = 0; i < cRegRoots; ++i) {
        if (!p || p[i].dwSent != REGTRE_SENT)
            ReportAssertion("p[i].dwSent == REGTRE_SENT", "Registry", __LINE__);
        if (!q || q[i].dwSent != REGTRE_SENT)
            ReportAssertion("q[i].dwSent == REGTRE_SENT", "Registry", __LINE__);
    }
    RegBuffer path(cbRegPath);
    char* pszPath = path.psz;
    for (int i = 0; i < cRegRoots; ++i) {
        lstrcpynA(pszPath, aRegRoots[i].szDisplayName, cbRegPath);
        bool fFinished = Guarded([&] {
            CheckCallbacks(iRegValueChange, iRegKeyChange);
            PumpMessagesWhenDue();
            CompareRegistryNodes(REG_FORWARD, p[i].pNode, q[i].pNode, iRegValueChange,
                                 iRegKeyChange, pszPath);
            CompareRegistryNodes(REG_REVERSE, q[i].pNode, p[i].pNode, IgnoreRegistryChange,
                                 iRegKeyChange, pszPath);
        });
        if (!fFinished)
            ReportInternalException("Registry", 8, __LINE__);
    }
}

int OnRegValueChange(const char* pszParentPath, const char* pszName, DWORD, RTREE* pNode) {
    AddRegistryAction(IDS_VALUE_CHANGED, pszParentPath, pszName, pNode);
    return 1;
}

int OnRegKeyChange(const char* pszParentPath, const char* pszName, DWORD, RTREE* pNode) {
    if (pNode->dwChange == REG_KEY_ADDED)
        AddRegistryAction(IDS_KEY_ADDED, pszParentPath, pszName, pNode);
    else if (pNode->dwChange == REG_KEY_DELETED)
        AddRegistryAction(IDS_KEY_DELETED, pszParentPath, pszName, pNode);
    return 1;
}

int AcceptRegistryAction(DEACTION*) {
    return 1;
}

int DescribeRegistryAction(DEACTION* pact, char* pszBuffer) {
    if (!pact->pExtra)
        ReportAssertion("pact->pExtra", "Registry", __LINE__);
    UINT idFormat = 0;
    switch (static_cast<RTREE*>(pact->pExtra)->dwChange) {
    case REG_VALUES_CHANGED:
        idFormat = IDS_DESCRIBE_VALUES_CHANGED;
        break;
    case REG_KEY_ADDED:
        idFormat = IDS_DESCRIBE_KEY_ADDED;
        break;
    case REG_KEY_DELETED:
        idFormat = IDS_DESCRIBE_KEY_DELETED;
        break;
    default:
        return 1;
    }
    std::snprintf(pszBuffer, cbRegDescribe, GetResString(idFormat), pact->pszDescription);
    return 1;
}
