// The little of a caller's SDP (RFC 4566) the gateway reads: the connection address, its
// multicast TTL and the audio port, into the gateway's RTPDest variables.
#pragma once

#include <cstdint>

namespace sipline {

// The body may be null. Returns 0.
int parseSDP(const char *body);
// The text after "c=" (modified: a "/" before the line end is cut). Words read, or 0 when it is
// not an IPv4 internet address.
int sdpGetDestAddress(char *line);
// The text after "m=". Values read from the port field, or 0 when it is not audio over RTP/AVP.
int sdpGetDestPort(const char *line, uint16_t *port);

}  // namespace sipline
