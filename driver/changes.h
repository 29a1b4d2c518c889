// Turning what a watch has read into records of the ring, on the queue's
// thread: names become full ANSI paths, a rename's two names become one
// record, and a change inside a folder renamed while watched is reported
// where the item really is.
#pragma once

#include "driver/ring.h"

#include <windows.h>

#include <string>
#include <vector>

constexpr int kMaxWatches = 2 * 26;

// The name of the short-lived folder and file that a flush makes in a drive's
// root (a counter follows the prefix); changes to them are never reported.
std::wstring FlushMarkPrefix();

// Forgets rename pairs and folder renames of earlier watching.
void ResetChangeReports();
// Writes the records of one completed read of watch iWatch, which sees
// folders or files below pszRoot ("C:\").
void ReportChanges(int iWatch, const wchar_t* pszRoot, bool fFolders,
                   const std::vector<BYTE>& notifications, DriverRing& ring);
