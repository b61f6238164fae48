// A client transaction of the gateway's own inside a call (the BYE, a session refresh): a record
// apart from the call's, so that the call can end or change while the transaction runs on.
#pragma once

#include "sip/uas/request.h"

namespace sipline {

// A record that carries the Call-ID, CSeq and socket of the request prepared in `r` (its Via's
// branch as RequestDialogHeaders wrote it as the record's one branch), registered in the
// open-request list so that ResponseProcessThread queues the answers (matched by Call-ID, CSeq
// number and branch) on that branch. Without a Call-ID nothing can match an answer. Release with
// RequestFree, which unregisters it.
request_t *TransactionRecordCreate(request_t *r);

}  // namespace sipline
