// Confirm procedures: called for every action still to offer, chosen or not,
// before anything is undone. 1 or IDYES lets the uninstall go ahead, IDNO
// stops it.
#include "actions/confirm.h"

#include "common/file_in_use.h"
#include "common/strings.h"
#include "common/boxes.h"
#include "common/paths.h"
#include "resources/resource.h"

#include <cstdio>
#include <string>

int ConfirmFolderDelete(DEACTION* pact) {
    if (!pact->fSelected)
        return IDOK;
    std::string question = FormatText(GetResString(IDS_CONFIRM_FOLDER_DELETE), pact->szObject);
    if (UninstMessageBox(question.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return IDNO;
    return FindFileInUse(pact->szObject, pact->szObject) ? IDNO : IDYES;
}

int ConfirmFileDelete(DEACTION* pact) {
    if (!pact->fSelected)
        return IDOK;
    if (!PathExists(pact->szObject)) {
        pact->fDone = 1; // nothing left to delete
        return IDOK;
    }
    if (IsFileInUse(pact->szObject)) {
        std::string text = FormatText(GetResString(IDS_FILE_IN_USE), pact->szObject);
        UninstMessageBox(text.c_str(), MB_ICONHAND);
        return IDNO;
    }
    return IDOK;
}

int WarnSkipRestore(const char* pszVerb, const DEACTION* pact) {
    std::string question = FormatText(GetResString(IDS_WARN_SKIP), pszVerb, pact->szObject);
    return UninstMessageBox(question.c_str(), MB_YESNO | MB_ICONQUESTION);
}

int ConfirmSkipRestore(DEACTION* pact) {
    if (pact->fSelected || !AnyDeletionSelected())
        return IDOK;
    std::string verb = GetResString(IDS_VERB_RESTORE);
    return WarnSkipRestore(verb.c_str(), pact);
}
