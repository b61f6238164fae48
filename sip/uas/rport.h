// Symmetric response routing (RFC 3581): a request whose top Via carries "rport" is answered to
// the address and port it came from, and that Via says where that was.
#pragma once

#include <netinet/in.h>

namespace sipline {

// 1 when the Via value has an "rport" parameter (with or without a value).
int ViaAsksRport(const char *via);
// The Via value with ";received=ADDRESS" and "rport=PORT" of the source, for the answer's top
// Via (RFC 3581 section 4); a heap text (free() it).
char *ViaWithReceived(const char *via, const sockaddr_in *source);
// Where the far end saw a request of the gateway come from, after the top Via of its answer
// (RFC 3581 section 4): 1 with *seen set when the Via has a "received" IPv4 address, its port
// from "rport" (0 when it has no valid one); else 0.
int ViaReceivedAt(const char *via, sockaddr_in *seen);

}  // namespace sipline
