// Registry key nodes and value records: allocation, sentinel checks and
// freeing of single nodes, chains and whole snapshots.
#include "registry/tree.h"

#include "registry/snapshot.h"

#include "common/strings.h"
#include "common/boxes.h"
#include "common/guard.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

REGTRE* RegBefore;
REGTRE* RegAfter;

namespace {

void CheckNode(const RTREE* pNode, int iLine) {
    if (!pNode || pNode->dwSent != RTREE_SENT)
        ReportAssertion("pNode->dwSent==RTREE_SENT", "Registry", iLine);
}

void CheckData(const RDATA* pRD, int iLine) {
    if (!pRD || pRD->dwSent != RDATA_SENT)
        ReportAssertion("pRD->dwSent==RDATA_SENT", "Registry", iLine);
}

void FreeNodeItself(RTREE* pNode) {
    FreeRegistryData(pNode->pData, nullptr, 1);
    pNode->pData = nullptr;
    std::free(pNode->pszName);
    pNode->dwSent = 0;
    std::free(pNode);
}

// Takes pNode out of its parent's child chain.
void UnlinkFromParent(RTREE* pNode) {
    RTREE* pParent = pNode->pParent;
    if (!pParent)
        return;
    if (pParent->pChild == pNode) {
        pParent->pChild = pNode->pNext;
        return;
    }
    RTREE* p = pParent->pChild;
    while (p && p->pNext != pNode)
        p = p->pNext;
    if (!p)
        ReportAssertion("p", "Registry", __LINE__);
    p->pNext = pNode->pNext;
}

// Frees a whole tree: siblings and children first, then the node. Chains are
// walked in a loop so a long sibling chain does not deepen the stack.
void FreeTree(RTREE* pNode) {
    while (pNode) {
        CheckNode(pNode, __LINE__);
        RTREE* pNext = pNode->pNext;
        FreeTree(pNode->pChild);
        FreeNodeItself(pNode);
        pNode = pNext;
    }
}

} // namespace

RegBuffer::RegBuffer(size_t cb) : psz(static_cast<char*>(AllocOrDie(cb))) {}

RegBuffer::~RegBuffer() {
    std::free(psz);
}

void ReportAssertion(const char* pszExpression, const char* pszModule, int iLine) {
    char szText[512];
    std::snprintf(szText, sizeof szText, "Assertion failed: %s, file %s, line %d", pszExpression,
                  pszModule, iLine);
    ShowLibraryBox(HostBoxOwner(), szText, MB_ICONHAND | MB_OK);
    RaiseSessionException(EXC_INTERNAL);
}

RTREE* NewRegistryNode() {
    auto* pNode = static_cast<RTREE*>(AllocZeroedOrDie(sizeof(RTREE)));
    pNode->dwSent = RTREE_SENT;
    pNode->pszName = static_cast<char*>(AllocZeroedOrDie(1));
    return pNode;
}

RTREE* CopyRegistryTree(const RTREE* pNode, RTREE* pParent, HKEY hRoot) {
    RTREE* pCopy = NewRegistryNode();
    std::free(pCopy->pszName);
    pCopy->pszName = DupString(pNode->pszName);
    pCopy->hRoot = hRoot ? hRoot : pNode->hRoot;
    pCopy->pParent = pParent;
    pCopy->fUnreadable = pNode->fUnreadable;
    RDATA** ppData = &pCopy->pData;
    for (const RDATA* pRD = pNode->pData; pRD; pRD = pRD->pNext) {
        *ppData = NewRegistryData(pRD->dwType, pRD->cbData, pRD->abData, pRD->pszName, nullptr);
        ppData = &(*ppData)->pNext;
    }
    RTREE** ppChild = &pCopy->pChild;
    for (const RTREE* pChild = pNode->pChild; pChild; pChild = pChild->pNext) {
        *ppChild = CopyRegistryTree(pChild, pCopy, hRoot);
        ppChild = &(*ppChild)->pNext;
    }
    return pCopy;
}

RDATA* NewRegistryData(DWORD dwType, DWORD cbData, const BYTE* pbData, const char* pszName,
                       RDATA* pNext) {
    auto* pRD = static_cast<RDATA*>(AllocZeroedOrDie(sizeof(RDATA) + cbData));
    pRD->dwSent = RDATA_SENT;
    pRD->dwType = dwType;
    pRD->cbData = cbData;
    if (pbData && cbData)
        std::memcpy(pRD->abData, pbData, cbData);
    pRD->pszName = DupString(pszName ? pszName : "");
    pRD->pNext = pNext;
    return pRD;
}

bool IsRegistryLinkValue(DWORD dwType, const char* pszName) {
    return dwType == REG_LINK && CompareNoCase(pszName, kRegLinkValueName) == 0;
}

bool IsRegistryLink(const RTREE* pNode) {
    return pNode->pData && !pNode->pData->pNext &&
           IsRegistryLinkValue(pNode->pData->dwType, pNode->pData->pszName);
}

RTREE* FreeRegistryNode(RTREE* pNode, int fAll) {
    if (!pNode)
        return nullptr;
    CheckNode(pNode, __LINE__);
    if (fAll) {
        FreeTree(pNode);
        return nullptr;
    }
    UnlinkFromParent(pNode);
    FreeNodeItself(pNode);
    return nullptr;
}

RDATA* FreeRegistryData(RDATA* pRD, RDATA* pPrev, int fAll) {
    while (pRD) {
        CheckData(pRD, __LINE__);
        RDATA* pNext = pRD->pNext;
        if (pPrev && !fAll)
            pPrev->pNext = pNext;
        std::free(pRD->pszName);
        pRD->dwSent = 0;
        std::free(pRD);
        if (!fAll)
            break;
        pRD = pNext;
    }
    return nullptr;
}

void FreeRegistrySnapshot(REGTRE** ppSnapshot) {
    if (!ppSnapshot || !*ppSnapshot)
        return;
    REGTRE* p = *ppSnapshot;
    for (int i = 0; i < cRegRoots; ++i) {
        if (p[i].dwSent != REGTRE_SENT)
            ReportAssertion("p[i].dwSent == REGTRE_SENT", "Registry", __LINE__);
    }
    *ppSnapshot = nullptr;
    for (int i = 0; i < cRegRoots; ++i) {
        RTREE* pRoot = p[i].pNode;
        if (!pRoot)
            continue;
        CheckNode(pRoot, __LINE__);
        FreeTree(pRoot->pNext);
        FreeTree(pRoot->pChild);
        FreeNodeItself(pRoot);
        p[i].dwSent = 0;
    }
    std::free(p);
}
