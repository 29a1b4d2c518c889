// An install log's items offered as the session's undo actions.
#pragma once

#include "install_log/manifest.h"

struct DEACTION;
struct RTREE;

// Turns the log's items into the session's actions and cautions, each
// checked against the machine as it is now.
void OfferLogItems(InstallLog& log);
// Marks the items whose actions were carried out or were gone. True when
// the log is still needed: an action offered checked was not carried out
// (the person unticked it, cancelled, or it failed). What was held back for
// changing since install and left unchecked is the person's to keep.
bool KeepItemsLeft(InstallLog& log);
// Releases what OfferLogItems made for the actions.
void ForgetLogActions();
// The registry key of an item's Uninstall entry, read as it is now; null
// when the log has none or it is gone. Freed by the caller.
RTREE* ReadRecordedUninstallKey(const InstallLog& log);

// Undo of a folder setup made: only the files setup made and that are
// unchanged are deleted, then the folders setup made that are left empty.
int UndoDeleteRecordedFolder(DEACTION* pact);
// Undo of a registry key setup added or whose values it changed: only what
// setup made or changed and is unchanged since goes back.
int UndoRecordedKey(DEACTION* pact);
// Nothing of the user's goes with such a folder: no question, only the check
// that none of its files is in use.
int ConfirmRecordedFolderDelete(DEACTION* pact);
