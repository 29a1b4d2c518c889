// The registry of the hooks that put back what a stretch abandoned by a fault
// leaves changed.
#include "common/state_reset.h"

#include "common/boxes.h"

namespace {

// Filled by the subsystems' constant initialisers before any guard runs;
// zero before, so the order of initialisation does not matter.
StateResetHook aHooks[kMaxStateResets];
size_t cHooks;

} // namespace

bool RegisterStateReset(const StateResetHook& hook) {
    if (cHooks == kMaxStateResets)
        InternalError("guard", __LINE__);
    else
        aHooks[cHooks++] = hook;
    return true;
}

StateMark MarkState() {
    StateMark mark{};
    for (size_t i = 0; i < cHooks; ++i)
        mark.values[i] = aHooks[i].pfnMark();
    return mark;
}

void PutBackState(const StateMark& mark) {
    for (size_t i = 0; i < cHooks; ++i)
        aHooks[i].pfnPutBack(mark.values[i]);
}

void ForgetAbandonedState() {
    for (size_t i = 0; i < cHooks; ++i) {
        if (aHooks[i].fEmptyForNewSession)
            aHooks[i].pfnPutBack(0);
    }
}
