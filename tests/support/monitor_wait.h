// Waiting until the file-system monitor has handed a number of records to
// the recorder.
#pragma once

#include <windows.h>

#include <set>

// Waits until at least dwTarget records were handed over since the library
// was loaded and no more arrive for a moment; false on time-out.
bool WaitForHandedOver(DWORD dwTarget, DWORD dwTimeoutMs = 30000);

// The threads of this process, by identifier.
std::set<DWORD> OwnThreadIds();
