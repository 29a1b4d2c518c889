// Undo procedures of file, folder, group, icon and restore actions.
#pragma once

#include "actions/deaction.h"

int UndoDeleteFile(DEACTION* pact);
int UndoDeleteIcon(DEACTION* pact);
int UndoDeleteFolder(DEACTION* pact);
int UndoDeleteGroup(DEACTION* pact);
int UndoRestoreFile(DEACTION* pact);
