// The status line, message pumping and the busy state that the host window
// is told of.
#pragma once

#include <windows.h>

void ShowStatus(HWND hwndStatus, const char* pszText);
void PumpMessages();
// Pumps only when at least 15 ms have passed since the last time it did:
// long scans keep the windows painting without a round trip per item.
void PumpMessagesWhenDue();

void BeginBusy();
void EndBusy();
bool IsBusy();
