// Opening, creating and deleting keys by a path below a root key. Wine's
// ANSI registry functions take at most 255 characters of path, so a longer
// path is walked a piece at a time, each piece relative to the key before.
// Names are registry text (registry/wide_names.h).
#include "registry/keypath.h"

#include "common/handles.h"
#include "registry/wide_names.h"

#include <cstring>
#include <string>

PFNREGOPENKEY pfnOpenRegistryKey = OpenRegistryKeyText;

namespace {

// Longest piece handed to one registry call, pieces ending at a backslash:
// the longest key name the registry allows, so that every name fits a piece.
constexpr size_t cchPiece = 255;

// Opens (or creates) every piece of pszPath but the last below hBase and
// keeps the key of the last piece's parent in *pParent, which stays empty
// when that parent is hBase itself; *ppszRest is the last piece.
LONG WalkToLastPiece(HKEY hBase, const char* pszPath, bool fCreate, REGSAM samDesired,
                     RegistryKey* pParent, const char** ppszRest) {
    std::string piece;
    while (std::strlen(pszPath) > cchPiece) {
        size_t cchCut = cchPiece;
        while (cchCut > 0 && pszPath[cchCut] != '\\')
            --cchCut;
        // A name longer than a piece in bytes (UTF-8 takes up to three for
        // a character) is a piece of its own.
        if (cchCut == 0)
            cchCut = std::strcspn(pszPath, "\\");
        if (pszPath[cchCut] == '\0')
            break;
        piece.assign(pszPath, cchCut);
        HKEY hCurrent = *pParent ? pParent->get() : hBase;
        HKEY hNext = nullptr;
        LONG lResult = fCreate
                           ? CreateRegistryKeyText(hCurrent, piece.c_str(), REG_OPTION_NON_VOLATILE,
                                                   samDesired, &hNext, nullptr)
                           : OpenRegistryKeyText(hCurrent, piece.c_str(), 0, samDesired, &hNext);
        if (lResult != ERROR_SUCCESS)
            return lResult;
        pParent->Reset(hNext);
        pszPath += cchCut + 1;
    }
    *ppszRest = pszPath;
    return ERROR_SUCCESS;
}

// Walks to the parent of the path's last piece and runs the operation on
// that piece; a walk that fails returns its error untouched.
template <class Operation>
LONG OnLastPiece(HKEY hRoot, const char* pszPath, bool fCreate, REGSAM samDesired,
                 Operation&& operation) {
    RegistryKey parent;
    const char* pszRest = nullptr;
    LONG lResult =
        WalkToLastPiece(hRoot, RegistryApiPath(pszPath), fCreate, samDesired, &parent, &pszRest);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    return operation(parent ? parent.get() : hRoot, pszRest);
}

} // namespace

LONG OpenRegistryPathNoLink(HKEY hRoot, const char* pszPath, REGSAM samDesired, HKEY* phKey) {
    return OnLastPiece(hRoot, pszPath, false, samDesired, [&](HKEY hParent, const char* pszRest) {
        return OpenRegistryKeyNoLink(hParent, pszRest, samDesired, phKey);
    });
}

namespace {

// Systems without registry links refuse the option; one probe of a key
// every system has decides it for the whole process, so that no failure of
// an ordinary open can turn it off and let a deletion follow links.
DWORD OpenLinkOption() {
    static const DWORD dwOpenLink = [] {
        HKEY hKey = nullptr;
        LONG lResult =
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", REG_OPTION_OPEN_LINK, KEY_READ, &hKey);
        if (lResult == ERROR_SUCCESS)
            RegCloseKey(hKey);
        return lResult == ERROR_INVALID_PARAMETER ? 0 : REG_OPTION_OPEN_LINK;
    }();
    return dwOpenLink;
}

} // namespace

LONG OpenRegistryKeyNoLink(HKEY hParent, const char* pszName, REGSAM samDesired, HKEY* phKey) {
    return pfnOpenRegistryKey(hParent, pszName, OpenLinkOption(), samDesired, phKey);
}

LONG CreateRegistryPath(HKEY hRoot, const char* pszPath, HKEY* phKey, DWORD* pdwDisposition,
                        DWORD dwOptions) {
    return OnLastPiece(hRoot, pszPath, true, KEY_ALL_ACCESS,
                       [&](HKEY hParent, const char* pszRest) {
                           return CreateRegistryKeyText(hParent, pszRest, dwOptions, KEY_ALL_ACCESS,
                                                        phKey, pdwDisposition);
                       });
}

LONG DeleteRegistryPath(HKEY hRoot, const char* pszPath) {
    return OnLastPiece(
        hRoot, pszPath, false, KEY_ALL_ACCESS,
        [](HKEY hParent, const char* pszRest) { return DeleteRegistryKeyText(hParent, pszRest); });
}
