// The internal-exception box shown by reporting guards.
#pragma once

// Returns only when the user answers "Yes"; otherwise raises EXC_USER_QUIT,
// which travels to the next enclosing guard.
void ReportInternalException(const char* pszModule, int iHandler, int iLine);
