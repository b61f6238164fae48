// The network side of a context: its send addresses, its receive address and the opening and
// closing of its RTP and RTCP sockets (IPv4 UDP; the RTCP port is the RTP port plus one).
#pragma once

#include <cstdint>

#include "rtp/errors.h"

namespace sipline {

// An odd port is lowered by one. A TTL counts only for a multicast address.
rtperror RTPSessionAddSendAddr(int32_t context, const char *host, uint16_t port, uint8_t ttl);
rtperror RTPSessionRemoveSendAddr(int32_t context, const char *host, uint16_t port, uint8_t ttl);
// The RTCP destination of a symmetric session's unicast send address (host, port as added):
// rtcp_port instead of port + 1, where the peer's RTCP comes from through a NAT.
rtperror RTPSessionSetSendRTCPPort(int32_t context, const char *host, uint16_t port,
                                   uint16_t rtcp_port);
// A null or empty host means any local address; port 0 means a dynamic port at opening.
rtperror RTPSessionSetReceiveAddr(int32_t context, const char *host, uint16_t port);
rtperror RTPSessionSetLocalAddr(int32_t context, const char *host, uint16_t port);
// *host points to a per-thread buffer holding the dotted address; *port is in host order.
rtperror RTPSessionGetReceiveAddr(int32_t context, const char **host, uint16_t *port);

rtperror RTPOpenConnection(int32_t context);
// Non-zero: RTP and RTCP to unicast send addresses leave from the receive sockets, so that a NAT
// in front of the peer lets the answer back (RFC 4961). Set before the send addresses are added.
rtperror RTPSessionSetSymmetric(int32_t context, int32_t symmetric);
// reason travels in the RTCP BYE; it may be null.
rtperror RTPCloseConnection(int32_t context, const char *reason);

// The receive sockets, to wait on them for readiness and to pass to RTPReceive.
rtperror RTPSessionGetRTPSocket(int32_t context, int *socket);
rtperror RTPSessionGetRTCPSocket(int32_t context, int *socket);

}  // namespace sipline
