// Registry keys by a path of any length below a root key.
#pragma once

#include <windows.h>

// Keys by a path below a root key, of any length; a leading backslash is
// the same as none. A link key at the end of the path is opened as itself,
// not as the key it points at; also one name below an open key.
LONG OpenRegistryPathNoLink(HKEY hRoot, const char* pszPath, REGSAM samDesired, HKEY* phKey);
LONG OpenRegistryKeyNoLink(HKEY hParent, const char* pszName, REGSAM samDesired, HKEY* phKey);
LONG CreateRegistryPath(HKEY hRoot, const char* pszPath, HKEY* phKey, DWORD* pdwDisposition);
LONG DeleteRegistryPath(HKEY hRoot, const char* pszPath);

// The registry functions take paths without a leading backslash.
inline const char* RegistryApiPath(const char* pszPath) {
    return pszPath && pszPath[0] == '\\' ? pszPath + 1 : pszPath;
}
