// The setup's own uninstaller: found among the keys setup added to the
// Uninstall entries, and offered before the library's own actions.
#pragma once

#include "registry/tree.h"

int DetectSystemUninstaller(REGTRE** ppBefore, REGTRE** ppAfter);
// The Uninstall entries that DetectSystemUninstaller would offer, each with
// its name and its UninstallString (empty when it has none), without asking.
typedef void (*PFNNEWUNINSTALLER)(const char* pszEntry, const char* pszCommand);
void ListNewUninstallers(REGTRE** ppBefore, REGTRE** ppAfter, PFNNEWUNINSTALLER pfnEach);
RTREE* FindRegistryKey(RTREE* pNode, const char* pszPath, char* pszPathBuffer);
int OnUninstallKeyChange(const char* pszParentPath, const char* pszName, DWORD dwCode,
                         RTREE* pNode);
// Offers the uninstaller of an Uninstall entry recorded earlier (its values
// as they are now) as the offer after setup does; 1 when the user stopped.
int OfferRecordedUninstaller(RTREE* pKey);
