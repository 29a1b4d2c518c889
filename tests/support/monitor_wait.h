// Waiting until the file-system monitor has handed a number of records to
// the recorder.
#pragma once

#include <windows.h>

#include <set>

// Waits until at least dwTarget records were handed over since the library
// was loaded and no more arrive for a moment; after the bound the case fails
// with what came and the windows then open.
bool WaitForHandedOver(DWORD dwTarget, DWORD dwTimeoutMs = 30000);

// The threads of this process, by identifier.
std::set<DWORD> OwnThreadIds();
