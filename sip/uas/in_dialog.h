// Requests inside a call's dialog besides ACK, CANCEL, INFO and BYE: a new offer in a re-INVITE
// or an UPDATE (RFC 3261 section 14, RFC 3311), answered with the same offer/answer as the call's
// first one (hold, resume, a new address, a session refresh), and OPTIONS.
#pragma once

#include <mutex>

#include "sip/uas/request.h"

namespace sipline {

// A re-INVITE or UPDATE of the call `current`. Called with CallLock held through `lock`; the lock
// is let go while a 2xx to a re-INVITE waits for its ACK. Answers and releases r.
void InDialogOffer(request_t *r, request_t *current, std::unique_lock<std::mutex> &lock);
// OPTIONS inside the call: 200 with what the gateway allows, accepts and supports. Releases r.
void InDialogOptions(request_t *r);

}  // namespace sipline
