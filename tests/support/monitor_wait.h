// Helpers for tests of the file-system monitor: waiting until the monitor
// has handed a number of records to the recorder, and removing the folders
// a test made.
#pragma once

#include <windows.h>

#include <string>

// Waits until at least dwTarget records were handed over since the library
// was loaded and no more arrive for a moment; false on time-out.
bool WaitForHandedOver(DWORD dwTarget, DWORD dwTimeoutMs = 120000);

// Deletes a folder with everything in it (links are removed, not followed).
void DeleteTree(const std::string& folder);
