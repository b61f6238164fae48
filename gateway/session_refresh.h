// The call's session timer (RFC 4028) on the gateway's side: the gateway refreshes at half the
// interval when it is the refresher, and ends the call when no refresh came in time.
#pragma once

#include <cstdint>

namespace sipline {

// A refresh (the 2xx to the INVITE, an accepted re-INVITE or UPDATE of the far end) starts the
// interval anew; interval 0 stops the timer, and the answer to a refresh of the gateway's still
// on its way is then ignored. Any thread.
void SessionTimerArm(int32_t interval, bool gateway_refreshes);
// Wakes the main thread to compute its wait anew after a change from another thread. Any
// thread.
void SessionTimerWake();
// Milliseconds until the timer needs the main thread, or -1 when none runs.
int32_t SessionTimerWaitMs();
// Main thread, in the connected state, when that wait ran out: the gateway's refresh (UPDATE
// when the far end allows it, else a re-INVITE), or the end of the call (BYE, line on-hook) when
// no refresh was accepted in time or the far end no longer knows the dialog.
void SessionTimerDue();

}  // namespace sipline
