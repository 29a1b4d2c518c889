// The internal-exception box: which guard caught a failure, and whether the
// user wants to go on.
#include "common/internal_error.h"

#include "common/boxes.h"
#include "common/guard.h"

#include <cstdio>

namespace {
char szExceptionText[512];
}

void ReportInternalException(const char* pszModule, int iHandler, int iLine) {
    std::snprintf(szExceptionText, sizeof szExceptionText,
                  "Tarnel Uninstaller has detected internal exception %d in %s line %d\n\n"
                  "PLEASE REPORT THIS BETA-TEST FAULT TO TRUN95-BETA@TARNEL.EXAMPLE\n\n"
                  "Press 'YES' to continue executing or 'NO' to quit",
                  iHandler, pszModule ? pszModule : "", iLine);
    if (UninstMessageBox(szExceptionText, MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
        RaiseSessionException(EXC_USER_QUIT);
}
