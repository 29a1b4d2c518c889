// An install log taken from the session that watched a setup.
#pragma once

#include "install_log/manifest.h"

#include <string>

// The session's action list and cautions as a log; the restored files'
// copies are taken from the session's temporary folder into the log folder.
bool SaveSessionAsLog(const std::string& folder, InstallLog& log);
// The name a log goes by: the display name of the Uninstall key setup added,
// else the setup program's name without its folder and ".exe".
std::string ProgramNameOf(const InstallLog& log, const std::string& setup);
// Whether the item is an Uninstall entry that setup added, under the
// machine's key or the user's.
bool IsAddedUninstallEntry(const LogItem& item);
// A name usable as a folder name.
std::string LogFolderName(const std::string& name);
