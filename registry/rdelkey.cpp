// Deletion of a registry key with everything below it, deepest keys first.
#include "registry/registry.h"

#include "common/util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD cbChildName = 512;

// The child name and child path buffers of one level and the open key.
struct DeleteLevel {
    char* pszName;
    char* pszPath;
    size_t cbPath;
    HKEY hKey = nullptr;
    explicit DeleteLevel(size_t cchSubkey)
        : pszName(static_cast<char*>(AllocOrDie(cbChildName))),
          // Room for the subkey, a backslash and the longest child name, so
          // keys deeper than the usual 511 characters are deleted too.
          pszPath(static_cast<char*>(AllocOrDie(cchSubkey + 1 + cbChildName))),
          cbPath(cchSubkey + 1 + cbChildName) {}
    DeleteLevel(const DeleteLevel&) = delete;
    DeleteLevel& operator=(const DeleteLevel&) = delete;
    ~DeleteLevel() {
        if (hKey)
            RegCloseKey(hKey);
        std::free(pszName);
        std::free(pszPath);
    }
};

} // namespace

LONG RegDeleteKeyRecursive(HKEY hParent, const char* pszSubkey) {
    if (!pszSubkey || !pszSubkey[0]) {
        InternalError("Rdelkey", __LINE__);
        return ERROR_INVALID_PARAMETER;
    }
    const char* pszApiPath = RegistryApiPath(pszSubkey);
    DeleteLevel level(std::strlen(pszSubkey));
    LONG lResult = OpenRegistryPath(hParent, pszApiPath, KEY_ALL_ACCESS, &level.hKey);
    if (lResult != ERROR_SUCCESS) {
        level.hKey = nullptr;
        return lResult;
    }
    for (;;) {
        if (RegEnumKeyA(level.hKey, 0, level.pszName, cbChildName) != ERROR_SUCCESS) {
            lResult = DeleteRegistryPath(hParent, pszApiPath);
            break;
        }
        std::snprintf(level.pszPath, level.cbPath, "%s\\%s", pszApiPath, level.pszName);
        lResult = RegDeleteKeyRecursive(hParent, level.pszPath);
        if (lResult != ERROR_SUCCESS)
            break;
    }
    if (lResult != ERROR_SUCCESS)
        InternalErrorMsg("Error Deleting Registry Key.", "Rdelkey", __LINE__);
    return lResult;
}
