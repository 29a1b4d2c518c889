// The undo of a registry key of an install log: the recorded key and the key
// now compared value by value and subkey by subkey, so that only what setup
// made and is unchanged since goes back.
#include "install_log/recorded_key.h"

#include "common/handles.h"
#include "common/strings.h"
#include "registry/keypath.h"
#include "registry/wide_names.h"

#include <algorithm>

namespace {

const RDATA* FindValue(const RTREE* pNode, const char* pszName) {
    for (const RDATA* pRD = pNode ? pNode->pData : nullptr; pRD; pRD = pRD->pNext) {
        if (CompareNoCase(pRD->pszName, pszName) == 0)
            return pRD;
    }
    return nullptr;
}

const RTREE* FindSubkey(const RTREE* pNode, const char* pszName) {
    for (const RTREE* pChild = pNode->pChild; pChild; pChild = pChild->pNext) {
        if (CompareNoCase(pChild->pszName, pszName) == 0)
            return pChild;
    }
    return nullptr;
}

bool SameValue(const RDATA* a, const RDATA* b) {
    if (!a || !b)
        return a == b;
    return a->dwType == b->dwType && a->cbData == b->cbData &&
           std::equal(a->abData, a->abData + a->cbData, b->abData);
}

// A key's path joined with a path below it; either may be empty.
std::string Below(const std::string& key, const std::string& name) {
    if (key.empty() || name.empty())
        return key + name;
    return key + "\\" + name;
}

ValueUndo Deletion(const std::string& subkey, const char* pszName) {
    return {subkey, pszName, true, 0, ""};
}

ValueUndo Rewrite(const RDATA* pRD) {
    return {"", pRD->pszName, false, pRD->dwType,
            std::string(reinterpret_cast<const char*>(pRD->abData), pRD->cbData)};
}

// Plans the key and what is below it; true when nothing of it is left then.
bool PlanAdded(const RTREE* pSetup, const RTREE* pNow, const std::string& subkey, KeyUndo& undo) {
    bool fEmptied = !pSetup->fUnreadable && !pNow->fUnreadable;
    for (const RDATA* pRD = pNow->pData; pRD; pRD = pRD->pNext) {
        if (SameValue(FindValue(pSetup, pRD->pszName), pRD)) {
            undo.values.push_back(Deletion(subkey, pRD->pszName));
        } else {
            undo.kept.push_back({subkey, pRD->pszName, false});
            fEmptied = false;
        }
    }
    for (const RTREE* pChild = pNow->pChild; pChild; pChild = pChild->pNext) {
        const RTREE* pRecorded = FindSubkey(pSetup, pChild->pszName);
        if (!pRecorded)
            undo.kept.push_back({Below(subkey, pChild->pszName), "", true});
        if (!pRecorded || !PlanAdded(pRecorded, pChild, Below(subkey, pChild->pszName), undo))
            fEmptied = false;
    }
    if (fEmptied)
        undo.emptiedKeys.push_back(subkey);
    return fEmptied;
}

bool KeyIsEmpty(HKEY hKey) {
    DWORD cSubkeys = 0, cValues = 0;
    return RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &cSubkeys, nullptr, nullptr, &cValues,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           cSubkeys == 0 && cValues == 0;
}

bool CarryOutValue(HKEY hRoot, const std::string& keyPath, const ValueUndo& value) {
    HKEY hKey = nullptr;
    if (OpenRegistryPathNoLink(hRoot, Below(keyPath, value.subkey).c_str(),
                               KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
        return value.fDelete; // a key gone takes its values with it
    RegistryKey key(hKey);
    if (value.fDelete) {
        LONG lResult = DeleteRegistryValueText(hKey, value.name.c_str());
        return lResult == ERROR_SUCCESS || lResult == ERROR_FILE_NOT_FOUND;
    }
    return SetRegistryValueText(hKey, value.name.c_str(), value.dwType,
                                reinterpret_cast<const BYTE*>(value.data.data()),
                                static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

void DeleteIfEmpty(HKEY hRoot, const std::string& path) {
    HKEY hKey = nullptr;
    if (OpenRegistryPathNoLink(hRoot, path.c_str(), KEY_READ, &hKey) != ERROR_SUCCESS)
        return;
    RegistryKey key(hKey);
    bool fEmpty = KeyIsEmpty(hKey);
    key.Close();
    if (fEmpty)
        DeleteRegistryPath(hRoot, path.c_str());
}

} // namespace

KeyUndo PlanAddedKeyUndo(const RTREE* pSetup, const RTREE* pNow) {
    KeyUndo undo;
    PlanAdded(pSetup, pNow, "", undo);
    return undo;
}

KeyUndo PlanChangedValuesUndo(const RTREE* pBefore, const RTREE* pSetup, const RTREE* pNow) {
    KeyUndo undo;
    std::vector<const RDATA*> changed; // by setup: what it wrote, or what it deleted
    for (const RTREE* pSide : {pSetup, pBefore}) {
        for (const RDATA* pRD = pSide->pData; pRD; pRD = pRD->pNext) {
            bool fSeen = std::ranges::any_of(changed, [&](const RDATA* pOther) {
                return CompareNoCase(pOther->pszName, pRD->pszName) == 0;
            });
            if (!fSeen &&
                !SameValue(FindValue(pBefore, pRD->pszName), FindValue(pSetup, pRD->pszName)))
                changed.push_back(pRD);
        }
    }
    for (const RDATA* pRD : changed) {
        const RDATA* pOld = FindValue(pBefore, pRD->pszName);
        if (!SameValue(FindValue(pNow, pRD->pszName), FindValue(pSetup, pRD->pszName)))
            undo.kept.push_back({"", pRD->pszName, false});
        else
            undo.values.push_back(pOld ? Rewrite(pOld) : Deletion("", pRD->pszName));
    }
    return undo;
}

bool CarryOutKeyUndo(HKEY hRoot, const std::string& keyPath, const KeyUndo& undo) {
    bool fAll = true;
    for (const ValueUndo& value : undo.values)
        fAll = CarryOutValue(hRoot, keyPath, value) && fAll;
    for (const std::string& subkey : undo.emptiedKeys)
        DeleteIfEmpty(hRoot, Below(keyPath, subkey));
    return fAll;
}
