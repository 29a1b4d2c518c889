// The setup's own uninstaller: every Uninstall entry that setup added is
// offered to the user before anything is compared, and after running one the
// user decides whether our own uninstall still looks for what is left.
#include "registry/uninstaller.h"

#include "registry/snapshot.h"
#include "registry/compare.h"
#include "registry/wide_names.h"

#include "common/strings.h"
#include "common/boxes.h"
#include "resources/resource.h"
#include "common/guard.h"
#include "common/internal_error.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr BYTE bUndecided = 0xFF;
constexpr BYTE bContinue = 0;
constexpr BYTE bStop = 1;

BYTE bUninstallerChoice = bUndecided;
// Set while the new entries are listed instead of offered.
PFNNEWUNINSTALLER pfnListEntry = nullptr;

// The title is read into a buffer of its own: the string table's buffers
// rotate and the question itself is read right after it.
int AskUninstall(const char* pszText, UINT uStyle) {
    char szTitle[128];
    lstrcpynA(szTitle, GetResString(IDS_UNINSTALL_DETECTED), sizeof szTitle);
    return ShowLibraryBox(HostBoxOwner(), pszText, uStyle, szTitle);
}

const RDATA* FindValue(const RTREE* pNode, const char* pszName) {
    for (const RDATA* pRD = pNode->pData; pRD; pRD = pRD->pNext) {
        if (CompareNoCase(pRD->pszName, pszName) == 0)
            return pRD;
    }
    return nullptr;
}

// A command as the registry holds it: up to its first NUL, if any.
std::string CommandText(const RDATA* pCommand) {
    const char* pszData = reinterpret_cast<const char*>(pCommand->abData);
    return std::string(pszData, strnlen(pszData, pCommand->cbData));
}

void RunOwnUninstaller(const RDATA* pCommand) {
    WinExec(ShownRegistryText(reinterpret_cast<const char*>(pCommand->abData)).c_str(),
            SW_SHOWDEFAULT);
    AskUninstall(GetResString(IDS_PRESS_OK_WHEN_DONE), MB_OK);
}

// The child of pNode whose whole name equals the component of cchComponent
// characters at pszComponent; the first one in chain order.
RTREE* FindChildByComponent(RTREE* pNode, const char* pszComponent, size_t cchComponent) {
    for (RTREE* pChild = pNode->pChild; pChild; pChild = pChild->pNext) {
        if (std::strlen(pChild->pszName) == cchComponent &&
            CompareNoCaseN(pChild->pszName, pszComponent, cchComponent) == 0)
            return pChild;
    }
    return nullptr;
}

// The snapshot rows whose Uninstall key can hold a setup's uninstaller: the
// machine's, and the user's, where a setup that needs no administrator
// registers it.
constexpr int aiUninstallRows[] = {1, 2};

// Finds the Uninstall key in one Software tree of a snapshot. False when an
// exception left the search; it is then reported with iHandler.
bool FindUninstallKey(REGTRE* pSnapshot, int iRow, char* pszBuffer, int iHandler, RTREE** ppFound) {
    *ppFound = nullptr;
    pszBuffer[0] = '\0';
    if (Guarded([&] {
            *ppFound = FindRegistryKey(pSnapshot[iRow].pNode, szRegUninstallPath, pszBuffer);
        }))
        return true;
    ReportInternalException("Registry", iHandler, __LINE__);
    return false;
}

// Offers every entry of an Uninstall key that did not exist before setup
// (the user's key is often made by the first per-user setup).
void OfferEveryEntry(RTREE* pUninstall) {
    for (RTREE* pEntry = pUninstall->pChild; pEntry && bUninstallerChoice != bStop;
         pEntry = pEntry->pNext)
        OnUninstallKeyChange("", pEntry->pszName, REG_KEY_ADDED, pEntry);
}

// Offers the entries setup added to the Uninstall key of one snapshot row.
// False when the comparison was abandoned.
bool OfferNewEntries(REGTRE* pBefore, REGTRE* pAfter, int iRow, char* pszBuffer) {
    // A missing Uninstall key after setup is compared too: the before key is
    // then reported as deleted, which the offer ignores.
    RTREE *pBeforeKey = nullptr, *pAfterKey = nullptr;
    if (!FindUninstallKey(pBefore, iRow, pszBuffer, 10, &pBeforeKey) ||
        !FindUninstallKey(pAfter, iRow, pszBuffer, 11, &pAfterKey))
        return true;
    if (!pBeforeKey && !pAfterKey)
        return true;
    pszBuffer[0] = '\0';
    bool fFinished = Guarded([&] {
        if (!pBeforeKey)
            OfferEveryEntry(pAfterKey);
        else
            CompareRegistryNodes(REG_REVERSE, pAfterKey, pBeforeKey, IgnoreRegistryChange,
                                 OnUninstallKeyChange, pszBuffer);
    });
    if (!fFinished)
        ReportInternalException("Registry", 12, __LINE__);
    return fFinished;
}

} // namespace

RTREE* FindRegistryKey(RTREE* pNode, const char* pszPath, char* pszPathBuffer) {
    if (!pszPath)
        ReportAssertion("pszPath", "Registry", __LINE__);
    if (!pszPath[0])
        ReportAssertion("pszPath[0]", "Registry", __LINE__);
    if (!pszPathBuffer)
        ReportAssertion("pszPathBuffer", "Registry", __LINE__);
    size_t cchBuffer = std::strlen(pszPathBuffer);
    size_t cchPath = std::strlen(pszPath);
    while (pNode) {
        size_t cchName = std::strlen(pNode->pszName);
        if (cchName) {
            if (cchBuffer + 1 + cchName >= cbRegPath)
                return nullptr;
            pszPathBuffer[cchBuffer++] = '\\';
            std::memcpy(pszPathBuffer + cchBuffer, pNode->pszName, cchName + 1);
            cchBuffer += cchName;
        }
        if (CompareNoCase(pszPathBuffer, pszPath) == 0)
            return pNode;
        if (cchBuffer >= cchPath || pszPath[cchBuffer] != '\\')
            return nullptr;
        const char* pszComponent = pszPath + cchBuffer + 1;
        const char* pszEnd = std::strchr(pszComponent, '\\');
        size_t cchComponent =
            pszEnd ? static_cast<size_t>(pszEnd - pszComponent) : std::strlen(pszComponent);
        pNode = FindChildByComponent(pNode, pszComponent, cchComponent);
    }
    return nullptr;
}

int OnUninstallKeyChange(const char*, const char* pszName, DWORD dwCode, RTREE* pNode) {
    if (!pNode)
        ReportAssertion("pNode", "Registry", __LINE__);
    if (dwCode != REG_KEY_ADDED)
        return 1;
    if (pfnListEntry) {
        const RDATA* pCommand = FindValue(pNode, szRegUninstallValue);
        pfnListEntry(pszName, pCommand ? CommandText(pCommand).c_str() : "");
        return 1;
    }
    char szQuestion[4096];
    std::snprintf(szQuestion, sizeof szQuestion, GetResString(IDS_USE_OWN_UNINSTALLER),
                  ShownRegistryText(pszName).c_str());
    if (AskUninstall(szQuestion, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        bUninstallerChoice = bContinue;
        return 1;
    }
    const RDATA* pCommand = FindValue(pNode, szRegUninstallValue);
    if (!pCommand)
        return 1;
    if (!Guarded([&] { RunOwnUninstaller(pCommand); }))
        ReportInternalException("Registry", 9, __LINE__);
    if (bUninstallerChoice == bUndecided) {
        int idAnswer =
            AskUninstall(GetResString(IDS_CONTINUE_AFTER_OWN), MB_YESNO | MB_ICONQUESTION);
        bUninstallerChoice = idAnswer == IDYES ? bContinue : bStop;
    }
    return 1;
}

void ListNewUninstallers(REGTRE** ppBefore, REGTRE** ppAfter, PFNNEWUNINSTALLER pfnEach) {
    pfnListEntry = pfnEach;
    DetectSystemUninstaller(ppBefore, ppAfter);
    pfnListEntry = nullptr;
}

int DetectSystemUninstaller(REGTRE** ppBefore, REGTRE** ppAfter) {
    RegBuffer buffer(cbRegPath);
    if (!ppBefore || !*ppBefore)
        ReportAssertion("pRT", "Registry", __LINE__);
    if (!ppAfter || !*ppAfter)
        ReportAssertion("qRT", "Registry", __LINE__);
    bUninstallerChoice = bUndecided;
    for (int iRow : aiUninstallRows) {
        if (bUninstallerChoice == bStop || !OfferNewEntries(*ppBefore, *ppAfter, iRow, buffer.psz))
            break;
    }
    return bUninstallerChoice == bStop ? 1 : 0;
}

int OfferRecordedUninstaller(RTREE* pKey) {
    bUninstallerChoice = bUndecided;
    if (!Guarded([&] { OnUninstallKeyChange("", pKey->pszName, REG_KEY_ADDED, pKey); })) {
        ReportInternalException("Registry", 13, __LINE__);
        return 0;
    }
    return bUninstallerChoice == bStop ? 1 : 0;
}
