// Message boxes with the library's title, the reports of internal errors and
// of running out of memory, and placing a dialog over its parent.
#pragma once

#include <windows.h>

#include <new>

// Every box of the library is shown by ShowLibraryBox: over hwndOwner (none
// when null), with the library's title unless another is given. The host's
// active window owns most of them.
int ShowLibraryBox(HWND hwndOwner, const char* pszText, UINT uFlags,
                   const char* pszTitle = nullptr);
HWND HostBoxOwner();
// A box over the host's active window once the busy state has ended; a
// missing text or host window is reported first.
int UninstMessageBox(const char* pszText, UINT uFlags);
int MessageBoxFmt(const char* pszFormat, const char* pszArg);
HWND GetOwnerWindow(HWND hwnd);
void CenterWindow(HWND hwnd);

// Reports. InternalError returns; the other two raise. TextGiven reports a
// null or empty text as an internal error of the module and returns false;
// the caller's operation goes on.
bool TextGiven(const char* pszText, const char* pszModule, int iLine);
void InternalError(const char* pszModule, int iLine);
[[noreturn]] void InternalErrorMsg(const char* pszMessage, const char* pszModule, int iLine);
[[noreturn]] void FatalOutOfMemory();

// Runs work that allocates from the standard library; running out of
// memory ends in FatalOutOfMemory.
template <class Work> void OrOutOfMemory(Work&& work) {
    try {
        work();
    } catch (const std::bad_alloc&) {
        FatalOutOfMemory();
    }
}
