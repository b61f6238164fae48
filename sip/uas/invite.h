// The INVITE that starts a call: is it for this gateway, what number to dial, where to send
// the media.
#pragma once

#include "sip/uas/request.h"

namespace sipline {

// Fills the call's record from the INVITE that starts it: the message, addresses, dialog
// identifiers, the answer built so far, and a share of its condition object.
void RequestCopy(request_t *target, request_t *source);

// The number an INVITE's To user part dials (a "kx" user dials 26), as the gateway's dial rules
// must see it.
const char *InviteNumber(const char *user);

// 1 when the registrar routed the INVITE here (its Request-URI is the registered Contact, or it
// came from the registrar or its proxy): its To host is then not checked.
bool InviteRouted(const request_t *r);
// The user part the INVITE's number is read from: the Request-URI's for a routed call when the
// gateway is so configured, else To's; "" without one.
const char *InviteNumberUser(const request_t *r);

// Answers on the record without waiting and without releasing it. Returns 0.
int InviteHandle(request_t *r);

}  // namespace sipline
