// After setup: the new items checked before they are offered, sparing the
// protected folders the user's settings name.
#pragma once

void LoadProtectedFolders();
void FreeProtectedFolders();
void VerifyNewItems();
