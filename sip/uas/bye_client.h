// The BYE the gateway sends as a non-INVITE client transaction over UDP (RFC 3261 section
// 17.1.2): a lost BYE would leave the far end's side of the call up for good.
#pragma once

#include "sip/uas/request.h"

namespace sipline {

// Sends the BYE prepared in `r` (CSeq method "BYE", RequestDialogHeaders done) once with
// RequestSend, as the call state machine always has, and leaves a transaction of its own
// running on a thread: it sends the same text again at T1, doubling up to T2 (at T2 once a
// provisional answer came), until a final answer arrives or timer F (64 * T1) runs out. The
// call's record is not touched after the first send, so the call can end at once. The result
// of the first send (0 or -1); nothing is sent again after a failed one.
int RequestByeSend(request_t *r);

}  // namespace sipline
