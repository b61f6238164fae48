// The route set of the dialog an INVITE made, seen from the gateway as its UAS (RFC 3261
// sections 12.1.1 and 12.2.1.1): the Record-Route entries of the INVITE, in the order they were
// received, and the remote target, the INVITE's Contact.
#pragma once

#include "sip/message/headers.h"

namespace sipline {

struct request_t;

// Adds one "Route" line per Record-Route entry of the received request, in their order (reversed
// for a dialog the gateway made, section 12.1.2), and
// sends the dialog's requests to the first one's host and port (its default 5060) when it is a
// loose router. Without a Record-Route it adds nothing and the requests go where the answers
// went. 0 on success, -1 when the first route names a host that does not resolve.
int RouteSetHeaders(request_t *r, header_list_t *headers);
// The Request-URI of an in-dialog request: the remote target (the Contact of the record's
// message), else the record's target, else "sip:USER@HOST" of the To record. Release with
// free().
char *RouteSetRequestUri(const request_t *r);

}  // namespace sipline
