// What the gateway's start-up needs from the SIP user-agent server. Until that server is linked
// in, these stand in for it: the status texts and the request record are not made, and the
// listener thread only keeps its place.
#pragma once

#include <cstdint>

namespace sipline {

struct request_t;

namespace sip_side {

void StatusTextInit();
request_t *RequestCreate(int32_t transport, int32_t socket, const char *address);
uint32_t ReceiveUDP(void *port);

inline constexpr int32_t TRANSPORT_UDP = 2;

}  // namespace sip_side
}  // namespace sipline
