// The INVITE that starts a call: is it for this gateway, what number to dial, where to send
// the media.
#pragma once

#include "sip/uas/request.h"

namespace sipline {

// Answers on the record without waiting and without releasing it. Returns 0.
int InviteHandle(request_t *r);

}  // namespace sipline
