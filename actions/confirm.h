// Confirm procedures of file, folder and restore actions: called for every
// action still to offer before anything is undone.
#pragma once

#include "actions/deaction.h"

int ConfirmFolderDelete(DEACTION* pact);
int ConfirmFileDelete(DEACTION* pact);
int ConfirmSkipRestore(DEACTION* pact);
// Asks whether to go on although an action with this verb is not chosen
// while deletions are; returns the answer (IDYES or IDNO).
int WarnSkipRestore(const char* pszVerb, const DEACTION* pact);
