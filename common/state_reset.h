// State that a stretch of work changes while it runs and must find put back
// when a fault abandons it: listings, open handles, the carrying out of
// actions and the dialogs it runs. The 32-bit build unwinds a processor fault
// by jumping back into the guard, and the 64-bit build runs no destructors
// for one either, so nothing here may rely on a destructor: the guard that
// catches puts the state back to the mark it took when it was entered.
//
// Each subsystem that owns such state registers how to mark and put it back,
// so that the guards, at the bottom, never call up into the subsystems.
#pragma once

#include <cstddef>
#include <cstdint>

// One subsystem's state at a moment, as its own hook reads it. Mark 0 is the
// state with nothing of a stretch left over.
using StateValue = uint64_t;

struct StateResetHook {
    StateValue (*pfnMark)();
    void (*pfnPutBack)(StateValue mark);
    // Whether a new session starts from mark 0 (else it keeps the state).
    bool fEmptyForNewSession;
};

// Registers a hook; returns true so that a subsystem can register from the
// initialiser of a constant. At most kMaxStateResets hooks.
inline constexpr size_t kMaxStateResets = 8;
bool RegisterStateReset(const StateResetHook& hook);

struct StateMark {
    StateValue values[kMaxStateResets];
};

StateMark MarkState();
void PutBackState(const StateMark& mark);

// At the start of a session nothing of an earlier one may be left open:
// listings, registry keys, directory searches, files and the carrying out
// of actions.
void ForgetAbandonedState();
