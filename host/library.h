// TRUN95.dll as the host sees it: loaded from the host's own folder, its
// entry points looked up by name and checked against their fixed ordinals.
#pragma once

#include "session/exports.h"

#include <windows.h>

#include <string>

struct Trun95Library {
    HMODULE hModule = nullptr;
    decltype(&already_running) pfnAlreadyRunning = nullptr;
    decltype(&pre_setup_save) pfnPreSetupSave = nullptr;
    decltype(&post_setup_uninstall) pfnPostSetupUninstall = nullptr;
    decltype(&post_setup_cleanup) pfnPostSetupCleanup = nullptr;
    decltype(&uninstall_standalone) pfnUninstallStandalone = nullptr;
    // Only in the tools library: writes the offered items for programs to read.
    int (*pfnWriteItemList)(const char* pszPath) = nullptr;
    // Only in the tools library: has the session write what setup made
    // before the setup's own uninstaller runs.
    int (*pfnWriteFootprintItems)(const char* pszPath) = nullptr;
    // Only in the tools library: install logs saved and carried out.
    int (*pfnSaveInstallLog)(HWND hwndParent, HWND hwndStatus, const char* pszLogs,
                             const char* pszName, const char* pszSetup, char* pszError,
                             int cchError) = nullptr;
    int (*pfnUninstallFromLog)(HWND hwndParent, HWND hwndStatus, const char* pszFolder,
                               char* pszError, int cchError) = nullptr;

    // False when the library or one of its entry points is missing.
    bool Load();
    // The same library with the entry points of its own tools: check runs
    // and install logs.
    bool LoadToolsLibrary();

  private:
    bool LoadFrom(const char* pszName);
};

// The host's own folder, with a trailing backslash: TRUN95.dll and the
// monitor's driver tr95.vxd lie there.
std::string HostFolder();

// Writes the host's INI file "tarnel32.ini" into the Windows folder, where
// the library reads it, with the dialog form the library uses by default
// unless the user has chosen one already.
void WriteHostIni();
