// Guards: a trampoline that catches the library's C++ exceptions in an inner
// frame and structured exceptions (processor faults, RaiseException) in an
// outer frame with a structured-exception handler of its own.
#include "common/guard.h"

#include "common/state_reset.h"

#include <excpt.h>

namespace {

constexpr DWORD kGccExceptionCode = 0x20474343;

// Catches the C++ side: the library's own codes and anything else thrown.
__attribute__((noinline)) bool RunCatchingCpp(void (*pfnBody)(void*), void* pContext,
                                              DWORD* pdwCode) {
    try {
        pfnBody(pContext);
        return true;
    } catch (const SessionException& e) {
        *pdwCode = e.dwCode;
    } catch (...) {
        *pdwCode = EXC_INTERNAL;
    }
    return false;
}

#if defined(__x86_64__)

thread_local DWORD tlsFaultCode;

// Filter of the scope-table entry: take every structured exception except
// GCC's own, which the inner frame handles.
extern "C" LONG GuardFilter(EXCEPTION_POINTERS* pInfo, void*) {
    DWORD dwCode = pInfo->ExceptionRecord->ExceptionCode;
    if (dwCode == kGccExceptionCode)
        return EXCEPTION_CONTINUE_SEARCH;
    tlsFaultCode = dwCode;
    return EXCEPTION_EXECUTE_HANDLER;
}

__attribute__((noinline)) bool RunCatchingFaults(void (*pfnBody)(void*), void* pContext,
                                                 DWORD* pdwCode) {
    volatile bool fFinished = false;
    volatile DWORD dwCode = 0;
    tlsFaultCode = 0;
    __try1(GuardFilter) {
        DWORD dwInner = 0;
        fFinished = RunCatchingCpp(pfnBody, pContext, &dwInner);
        dwCode = dwInner;
    }
    __except1;
    if (!fFinished && dwCode == 0)
        dwCode = tlsFaultCode;
    *pdwCode = dwCode;
    return fFinished;
}

#else

// On i686 a registration record on the fs:[0] chain; its handler unwinds the
// frames above it and jumps back into the trampoline.
struct GuardFrame {
    EXCEPTION_REGISTRATION_RECORD reg;
    void* jumpBuffer[5];
    DWORD dwCode;
};

extern "C" EXCEPTION_DISPOSITION GuardHandler(EXCEPTION_RECORD* pRecord, void* pFrame, CONTEXT*,
                                              void*) {
    if (pRecord->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    GuardFrame* pGuard = static_cast<GuardFrame*>(pFrame);
    pGuard->dwCode = pRecord->ExceptionCode;
    RtlUnwind(pFrame, nullptr, pRecord, nullptr);
    __builtin_longjmp(pGuard->jumpBuffer, 1);
}

__attribute__((noinline)) bool RunCatchingFaults(void (*pfnBody)(void*), void* pContext,
                                                 DWORD* pdwCode) {
    GuardFrame guard{};
    guard.reg.Next = reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(__readfsdword(0));
    guard.reg.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(GuardHandler);
    __writefsdword(0, reinterpret_cast<DWORD>(&guard.reg));
    bool fFinished = false;
    if (__builtin_setjmp(guard.jumpBuffer) == 0) {
        fFinished = RunCatchingCpp(pfnBody, pContext, pdwCode);
    } else {
        *pdwCode = guard.dwCode;
    }
    __writefsdword(0, reinterpret_cast<DWORD>(guard.reg.Next));
    return fFinished;
}

#endif

} // namespace

void RaiseSessionException(DWORD dwCode) {
    throw SessionException{dwCode};
}

bool RunGuarded(void (*pfnBody)(void*), void* pContext, DWORD* pdwCode) {
    StateMark mark = MarkState();
    bool fFinished = RunCatchingFaults(pfnBody, pContext, pdwCode);
    if (!fFinished)
        PutBackState(mark);
    return fFinished;
}
