// The session refresh the gateway sends as the refresher of a call's session timer (RFC 4028
// section 10): an UPDATE (RFC 3311) when the far end allows it, else a re-INVITE that offers the
// session as it stands. Its client transaction runs on a thread of its own, apart from the
// call's record, and reports how it ended.
#pragma once

#include <cstdint>

#include "sip/uas/request.h"
#include "sip/uas/session_timer.h"

namespace sipline {

// How a refresh ended, for the one who sent it.
struct refresh_outcome_t {
    int32_t status;              // the final answer's; 408 when none came (timer B or F)
    int32_t invite;              // 1 for a re-INVITE, 0 for an UPDATE
    session_timer_t granted;     // a 2xx's Session-Expires (SessionTimerReadAnswer)
    int32_t granted_unreadable;  // 1 when that Session-Expires was no number
    int32_t min_se;              // a 422's Min-SE (SessionTimerMinSe), -1 without
    int32_t retry_after;         // a refusal's Retry-After in seconds, 0 without
    const char *body;            // a 2xx's body (the answer to a re-INVITE's offer), or null
};
// Called once per refresh, on the transaction's thread, with the token RequestRefreshSend took.
using refresh_done_t = void (*)(uint32_t token, const refresh_outcome_t *outcome);

// Whether the far end's Allow in `message` (the caller's INVITE, or the callee's 2xx) lists
// UPDATE.
bool RefreshPeerAllowsUpdate(const parser_t *message);

// Turns the call's record `r` (its CSeq number already the gateway's next one) into the refresh
// and sends it: an UPDATE without body, or an INVITE offering `sdp` with a Contact naming
// `user`; each with "Session-Expires: interval;refresher=uac" (the sender, the gateway, goes on
// refreshing) and "Supported: timer". The transaction (RFC 3261 section 17.1) then runs on its
// own thread: retransmissions, the ACK of a re-INVITE's final answer (again for a final answer
// that comes again, for 64 * T1), and `done` at the final answer or the timeout. `r` is not
// touched after the send. 0, or -1 when the first send failed (`done` is then not called).
int RequestRefreshSend(request_t *r, bool invite, int32_t interval, const char *sdp,
                       const char *user, uint32_t token, refresh_done_t done);

// Whether a re-INVITE of the gateway's waits for its final answer: an offer from the far end
// meanwhile gets 491 (RFC 3261 section 14.2).
bool RefreshOfferPending();

}  // namespace sipline
