// The globals a session owns from pre_setup_save to post_setup_cleanup, and
// the steps that the exports and the install log share.
#pragma once

#include "session/exports.h"

#include <windows.h>

// The machine-wide mark of a running session.
inline constexpr char kRunningAtomName[] = "Tarnel Uninstall Is Running";

extern WORD fInSession;
extern ATOM atomRunning;

// A session's state from its first moment, shared by the first snapshot and
// the install log: the flags, the shell's allocator, the running atom and the
// registry names. False, after telling the user, without the allocator.
bool OpenSessionState();

// The steps after setup, shared by the offer and the install log: compare
// and build the actions (offering the setup's own uninstaller first when
// fOfferOwn; false when the user then stopped), and put back afterwards what
// the session changed for its own work.
bool BuildUndoActions(HWND hwndStatus, bool fOfferOwn);
// Called, when set, after setup's changes are compared and before the
// setup's own uninstaller is offered, while the actions on offer are all
// that setup made: the tools of a check run write them down here. Never set
// in the shipping library.
extern void (*pfnFootprintCompared)();
void EndPostSetup();
