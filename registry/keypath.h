// Registry keys by a path of any length below a root key.
#pragma once

#include <windows.h>

// Keys by a path below a root key, of any length; a leading backslash is
// the same as none. A link key at the end of the path is opened as itself,
// not as the key it points at; also one name below an open key.
LONG OpenRegistryPathNoLink(HKEY hRoot, const char* pszPath, REGSAM samDesired, HKEY* phKey);
LONG OpenRegistryKeyNoLink(HKEY hParent, const char* pszName, REGSAM samDesired, HKEY* phKey);
// The open of one name below an open key; tests put a failing one in its
// place, since the registry cannot be made to refuse an open as invalid.
using PFNREGOPENKEY = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
extern PFNREGOPENKEY pfnOpenRegistryKey;
// The last key of the path is made with dwOptions (REG_OPTION_CREATE_LINK
// makes it a link), the keys on the way as ordinary keys.
LONG CreateRegistryPath(HKEY hRoot, const char* pszPath, HKEY* phKey, DWORD* pdwDisposition,
                        DWORD dwOptions = REG_OPTION_NON_VOLATILE);
LONG DeleteRegistryPath(HKEY hRoot, const char* pszPath);

// The registry functions take paths without a leading backslash.
inline const char* RegistryApiPath(const char* pszPath) {
    return pszPath && pszPath[0] == '\\' ? pszPath + 1 : pszPath;
}
