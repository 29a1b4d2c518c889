// Deletion of a registry key with everything below it, deepest keys first.
// Every key is opened through its parent's handle and as itself: a link key
// is deleted, never the key it points at. A key whose reading is refused is
// left in place with a caution, and so are the keys above it: one the
// snapshot could not read, or one whose reading is refused now.
#include "registry/rdelkey.h"

#include "registry/snapshot.h"
#include "registry/keypath.h"
#include "registry/wide_names.h"
#include "common/handles.h"

#include "files/lists.h"

#include "common/strings.h"
#include "common/boxes.h"

#include <cstring>
#include <string>

namespace {

typedef LONG(WINAPI* PFNNTDELETEKEY)(HANDLE);

constexpr REGSAM samDelete = KEY_READ | KEY_SET_VALUE | DELETE;
constexpr char kKeptCaution[] = "Registry key %s could not be read and was left in place.";

// Deletes the key of an open handle itself; null where the system has no
// such call, and then the key is deleted by its name.
PFNNTDELETEKEY DeleteByHandle() {
    static auto pfn = reinterpret_cast<PFNNTDELETEKEY>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    return pfn;
}

// The subkey name at iIndex, of any length; false when there is none.
// *pfExact false when the name has no exact form.
bool SubkeyNameAt(HKEY hKey, DWORD iIndex, std::string& name, bool* pfExact) {
    for (DWORD cch = 256;; cch *= 2) {
        name.resize(cch);
        DWORD cchName = cch;
        LONG lResult = EnumRegistrySubkey(hKey, iIndex, name.data(), &cchName, pfExact);
        if (lResult == ERROR_SUCCESS) {
            name.resize(cchName);
            return true;
        }
        if (lResult != ERROR_MORE_DATA || cch > 65536)
            return false;
    }
}

void NoteKeptKey(HKEY hRoot, const std::string& path) {
    AddCaution(kKeptCaution, ShownRegistryPath(hRoot, path).c_str());
}

// The snapshot's child of that name. Live keys and snapshot children come in
// the same order, so the search goes on from the last one found.
const RTREE* FindSnapshotChild(const RTREE* pNode, const std::string& name,
                               const RTREE** ppCursor) {
    if (!pNode)
        return nullptr;
    const RTREE* pStart = *ppCursor ? *ppCursor : pNode->pChild;
    for (int iPass = 0; iPass < 2; ++iPass) {
        for (const RTREE* p = iPass ? pNode->pChild : pStart; p && (!iPass || p != pStart);
             p = p->pNext) {
            if (CompareNoCase(p->pszName, name.c_str()) == 0) {
                *ppCursor = p->pNext;
                return p;
            }
        }
    }
    return nullptr;
}

class TreeDeleter {
  public:
    TreeDeleter(HKEY hRoot, const char* pszPath) : hRoot_(hRoot), path_(pszPath) {}

    // Deletes everything below the open key, then the key; pNode is the
    // key's snapshot node, when there is one. *pfKept tells that something
    // below could not be read, so the key stays, emptied of its values.
    LONG DeleteOpenKey(HKEY hKey, const RTREE* pNode, bool* pfKept) {
        std::string name;
        const RTREE* pCursor = nullptr;
        *pfKept = false;
        bool fExact = true;
        for (DWORD iIndex = 0; SubkeyNameAt(hKey, iIndex, name, &fExact);) {
            bool fChildKept = false;
            const RTREE* pChild = FindSnapshotChild(pNode, name, &pCursor);
            LONG lResult = DeleteChild(hKey, name, fExact ? pChild : nullptr, fExact, &fChildKept);
            if (lResult != ERROR_SUCCESS)
                return lResult;
            if (fChildKept) {
                *pfKept = true;
                ++iIndex;
            }
        }
        // A key left in place keeps no values, so that re-creating it from a
        // snapshot leaves exactly the snapshot's values.
        if (*pfKept) {
            DeleteAllRegistryValues(hKey);
            return ERROR_SUCCESS;
        }
        if (PFNNTDELETEKEY pfnDelete = DeleteByHandle())
            return pfnDelete(hKey) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
        return ERROR_CALL_NOT_IMPLEMENTED;
    }

  private:
    LONG DeleteChild(HKEY hKey, const std::string& name, const RTREE* pNode, bool fExact,
                     bool* pfKept) {
        size_t cchPath = path_.size();
        path_ += "\\" + name;
        HKEY hChild = nullptr;
        bool fKnownUnreadable = !fExact || (pNode && pNode->fUnreadable);
        LONG lResult = fKnownUnreadable
                           ? ERROR_ACCESS_DENIED
                           : OpenRegistryKeyNoLink(hKey, name.c_str(), samDelete, &hChild);
        // A listed key that cannot be opened by the name the listing gave
        // has a name the calls in use cannot carry: it stays as well.
        if ((lResult == ERROR_ACCESS_DENIED || lResult == ERROR_FILE_NOT_FOUND) &&
            (fKnownUnreadable || IsUnreadable(hKey, name))) {
            NoteKeptKey(hRoot_, path_);
            *pfKept = true;
            lResult = ERROR_SUCCESS;
        } else if (lResult == ERROR_SUCCESS) {
            RegistryKey child(hChild);
            lResult = DeleteOpenKey(child.get(), pNode, pfKept);
            if (lResult == ERROR_CALL_NOT_IMPLEMENTED)
                lResult = DeleteRegistryKeyText(hKey, name.c_str());
        }
        path_.resize(cchPath);
        return lResult;
    }

    static bool IsUnreadable(HKEY hKey, const std::string& name) {
        HKEY hChild = nullptr;
        if (OpenRegistryKeyNoLink(hKey, name.c_str(), KEY_READ, &hChild) != ERROR_SUCCESS)
            return true;
        RegistryKey(hChild).Close();
        return false;
    }

    HKEY hRoot_;
    std::string path_;
};

} // namespace

std::string ShownRegistryPath(HKEY hRoot, const std::string& path) {
    for (const REGROOT& root : aRegRoots) {
        size_t cchStart = std::strlen(root.szStartPath);
        if (root.hRoot != hRoot || !root.szDisplayName[0] ||
            path.compare(0, cchStart, root.szStartPath) != 0)
            continue;
        return ShownRegistryText(root.szDisplayName + std::string(cchStart ? "" : "\\") +
                                 path.substr(cchStart));
    }
    return ShownRegistryText(path);
}

LONG RegDeleteKeyRecursive(HKEY hParent, const char* pszSubkey) {
    return DeleteRegistryTree(hParent, pszSubkey, nullptr);
}

LONG DeleteRegistryTree(HKEY hParent, const char* pszSubkey, const RTREE* pNode) {
    if (!pszSubkey || !pszSubkey[0]) {
        InternalError("Rdelkey", __LINE__);
        return ERROR_INVALID_PARAMETER;
    }
    const char* pszApiPath = RegistryApiPath(pszSubkey);
    HKEY hKey = nullptr;
    LONG lResult = OpenRegistryPathNoLink(hParent, pszApiPath, samDelete, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    RegistryKey key(hKey);
    bool fKept = false;
    lResult = TreeDeleter(hParent, pszApiPath).DeleteOpenKey(key.get(), pNode, &fKept);
    if (lResult == ERROR_CALL_NOT_IMPLEMENTED)
        lResult = DeleteRegistryPath(hParent, pszApiPath);
    if (lResult != ERROR_SUCCESS)
        InternalErrorMsg("Error Deleting Registry Key.", "Rdelkey", __LINE__);
    return lResult;
}
