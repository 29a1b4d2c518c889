// Registry names and string data as the snapshot holds them, the "registry
// text": where the system offers the registry's wide-character calls (the
// NT family, Wine) they are read and written through those calls and held
// as UTF-8, exactly; on the Windows 95 family, whose registry holds ANSI
// names only, through the ANSI calls, as text of the ANSI code page.
#pragma once

#include <windows.h>

#include <string>

// Decided once, by a probe of a key every system has, never by a later
// failure.
bool RegistryTextIsUtf8();
// Tests set it to take the ANSI calls, as on the Windows 95 family.
extern bool fRegistryAnsiCallsForTests;

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: data held as registry text.
bool IsRegistryStringType(DWORD dwType);

// A name as the report, the dialogs and the uninstall list show it: ANSI,
// with "?" for what the code page cannot hold, as Windows shows it.
std::string ShownRegistryText(const std::string& text);
// Registry text to and from UTF-8 (the install log's encoding) and from
// ANSI (older install logs). False where no exact form exists.
std::string Utf8OfRegistryText(const std::string& text);
bool RegistryTextOfUtf8(const std::string& utf8, std::string& text);
std::string RegistryTextOfAnsi(const std::string& ansi);

// Registry calls on names and data in registry text. The enumerations work
// as RegEnumValueA and RegEnumKeyExA do, sizes in bytes of registry text;
// *pfExact is false when the name or the string data has no exact registry
// text (such an item is never acted on).
LONG QueryRegistryKeySizes(HKEY hKey, DWORD* pcSubkeys, DWORD* pcbMaxSubkey, DWORD* pcValues,
                           DWORD* pcbMaxValueName, DWORD* pcbMaxValueData);
LONG EnumRegistryValue(HKEY hKey, DWORD iIndex, char* pszName, DWORD* pcbName, DWORD* pdwType,
                       BYTE* pbData, DWORD* pcbData, bool* pfExact);
LONG EnumRegistrySubkey(HKEY hKey, DWORD iIndex, char* pszName, DWORD* pcbName, bool* pfExact);
LONG WINAPI OpenRegistryKeyText(HKEY hParent, LPCSTR pszName, DWORD dwOptions, REGSAM samDesired,
                                PHKEY phKey);
LONG CreateRegistryKeyText(HKEY hParent, const char* pszName, DWORD dwOptions, REGSAM samDesired,
                           PHKEY phKey, DWORD* pdwDisposition);
LONG DeleteRegistryKeyText(HKEY hParent, const char* pszName);
LONG SetRegistryValueText(HKEY hKey, const char* pszName, DWORD dwType, const BYTE* pbData,
                          DWORD cbData);
LONG DeleteRegistryValueText(HKEY hKey, const char* pszName);
// Deletes every value of the open key by its exact name.
void DeleteAllRegistryValues(HKEY hKey);
