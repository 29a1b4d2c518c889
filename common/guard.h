// Exception codes and guards. A step that cannot go on raises a small code;
// a guard around a stretch of work catches every failure that leaves the
// stretch: the library's own codes, C++ exceptions and processor faults.
#pragma once

#include <windows.h>

#include <utility>

enum : DWORD {
    EXC_TEMP_FOLDER = 1,
    EXC_BACKUP = 2,
    EXC_OUT_OF_MEMORY = 10,
    EXC_INTERNAL = 11,
    EXC_USER_QUIT = 100,
};

// The library's own exceptions travel as C++ exceptions of this type.
struct SessionException {
    DWORD dwCode;
};

[[noreturn]] void RaiseSessionException(DWORD dwCode);

// Runs pfnBody(pContext); returns true when it ran to its end, false when an
// exception left it, with its code (session code, or the structured
// exception code of a fault) in *pdwCode.
bool RunGuarded(void (*pfnBody)(void*), void* pContext, DWORD* pdwCode);

template <class Body> bool Guarded(Body&& body, DWORD* pdwCode = nullptr) {
    DWORD dwCode = 0;
    auto pfnCall = [](void* pContext) { (*static_cast<Body*>(pContext))(); };
    bool fFinished = RunGuarded(pfnCall, &body, &dwCode);
    if (pdwCode)
        *pdwCode = dwCode;
    return fFinished;
}

// Window and dialog procedures must never let an exception unwind into the
// system's message dispatch. A procedure body run through GuardedDialogBody
// keeps an escaping exception and ends its dialog with -1; the DialogBoxGuarded
// that runs that dialog raises it again once the dialog is gone, so it reaches
// the guard around the dialog as if it had travelled through the modal loop.
void KeepPendingDialogException(HWND hDlg, DWORD dwCode);

template <class Body> INT_PTR GuardedDialogBody(HWND hDlg, Body&& body) {
    INT_PTR result = 0;
    DWORD dwCode = 0;
    if (!Guarded([&] { result = body(); }, &dwCode)) {
        KeepPendingDialogException(hDlg, dwCode);
        return TRUE;
    }
    return result;
}

INT_PTR DialogBoxGuarded(HINSTANCE hinst, int idTemplate, HWND hwndOwner, DLGPROC pfnProc,
                         LPARAM lParam);
