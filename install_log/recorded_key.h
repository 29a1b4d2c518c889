// The undo of a registry key of an install log, planned against the key as
// it is now: what setup made or changed and is unchanged since goes back;
// what was made or changed since stays and is named.
#pragma once

#include "registry/tree.h"

#include <windows.h>

#include <string>
#include <vector>

// One value the undo writes back or deletes; subkey is the path below the
// item's key ("" for the key itself).
struct ValueUndo {
    std::string subkey;
    std::string name;
    bool fDelete = false;
    DWORD dwType = 0;
    std::string data;
};

// Something that stays because it was made or changed since install: a key
// (value empty and fKey) or a value.
struct KeptPart {
    std::string subkey;
    std::string value;
    bool fKey = false;
};

struct KeyUndo {
    std::vector<ValueUndo> values;
    // Keys deleted once the values are gone and nothing is left in them,
    // deepest first ("" is the item's key).
    std::vector<std::string> emptiedKeys;
    std::vector<KeptPart> kept;
};

// A key setup added, as setup left it, against the key now.
KeyUndo PlanAddedKeyUndo(const RTREE* pSetup, const RTREE* pNow);
// A key whose values setup changed: its values before setup and as setup
// left them, against the key now. Its subkeys are items of their own.
KeyUndo PlanChangedValuesUndo(const RTREE* pBefore, const RTREE* pSetup, const RTREE* pNow);
// Carries the undo out below the key at hRoot\keyPath; a key is deleted only
// when it is found empty. False when a value could not be written or deleted.
bool CarryOutKeyUndo(HKEY hRoot, const std::string& keyPath, const KeyUndo& undo);
