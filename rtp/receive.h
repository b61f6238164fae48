// Receiving RTP and RTCP: reading and checking datagrams, the packets in host form, and the
// statistics kept per source.
#pragma once

#include <netinet/in.h>

#include <bit>
#include <cstdint>

#include "rtp/errors.h"

namespace sipline {

// The host forms below put the first byte's bit fields in the order of the little-endian
// compilers this system is built with.
static_assert(std::endian::native == std::endian::little);

// The fixed RTP header as RTPReceive leaves it: version, flags and counts unpacked into bit
// fields, sequence number, timestamp and SSRC in host order; CSRCs stay in network order.
struct rtp_hdr_t {
    uint8_t version : 2;
    uint8_t p : 1;
    uint8_t x : 1;
    uint8_t cc : 4;
    uint8_t m : 1;
    uint8_t pt : 7;
    uint16_t seq;
    uint32_t ts;
    uint32_t ssrc;
};

// The common header of every RTCP packet in host form; length is in 32-bit words minus one.
struct rtcp_common_t {
    uint8_t version : 2;
    uint8_t p : 1;
    uint8_t count : 5;
    uint8_t pt;
    uint16_t length;
};

inline constexpr uint8_t RTCP_SR = 200;
inline constexpr uint8_t RTCP_RR = 201;
inline constexpr uint8_t RTCP_SDES = 202;
inline constexpr uint8_t RTCP_BYE = 203;
inline constexpr uint8_t RTCP_APP = 204;

// Sender information of an SR, after its common header, host order.
struct rtcp_sr_t {
    uint32_t ssrc;
    uint32_t ntp_sec;
    uint32_t ntp_frac;
    uint32_t rtp_ts;
    uint32_t packets;
    uint32_t octets;
};

// A report block in host form: loss holds the fraction lost in its low byte and the 24-bit
// cumulative count above it.
struct rtcp_rr_t {
    uint32_t ssrc;
    uint32_t loss;
    uint32_t last_seq;
    uint32_t jitter;
    uint32_t lsr;
    uint32_t dlsr;
};

// The most packets one RTCP compound may hold; more make it invalid.
inline constexpr int32_t RTCP_MAX_COMPOUND = 200;

struct rtp_packet_info_t {
    rtp_hdr_t *header;
    const void *extension;  // the extension's first word (wire order), or null
    char *payload;
    int32_t payload_length;
};

struct rtcp_packet_info_t {
    rtcp_common_t *packet;
    // SR and RR: the first report block; SDES: the first chunk; otherwise null.
    char *position;
    // BYE only: the reason text (not NUL-terminated) and its length; null and 0 without one.
    const char *reason;
    uint8_t reason_length;
};

// One report block about a source, as kept in a member's report table.
struct rtp_report_t {
    int32_t reporter;  // the unique id of the member that reported it
    uint8_t fraction_lost;
    uint32_t cumulative_lost;
    uint32_t highest_sequence;
    uint32_t jitter;
    uint32_t lsr;
    uint32_t dlsr;
};

// Reads one datagram from the context's receive RTP or RTCP socket into buffer (*length gives
// its room and receives the datagram's size) and processes it. A datagram that does not fit
// fails with RTP_INSUFFICIENT_BUFFER and *length gives the size it needs.
rtperror RTPReceive(int32_t context, int socket, char *buffer, int32_t *length);
// Processes a datagram received by other means. from_own_address: it came from the port (and
// address) this context sends from.
rtperror RTPPacketReceived(int32_t context, char *buffer, int32_t length, const sockaddr_in *from,
                           int32_t from_length, int32_t rtcp, int32_t from_own_address);

// Locates extension and payload of a host-form RTP packet; RTP_BAD_PACKET_FORMAT when the
// header, CSRC list, extension or padding do not fit into length.
rtperror RTPGetRTPPacketInfo(rtp_packet_info_t *info, char *packet, int32_t length);
rtperror RTPGetRTCPPacketInfo(rtcp_packet_info_t *info, char *packet);
// The index-th CSRC as it stands in the packet (network order); 0 beyond the CSRC count.
uint32_t RTPGetCSRC(const rtp_packet_info_t *info, int32_t index);
// Fills packets (room for RTCP_MAX_COMPOUND) with the packets of a host-form compound and
// returns their number; -1 when the length fields do not add up to length.
int32_t RTPSplitCompound(char *compound, char **packets, int32_t length);

rtperror RTPMostRecentRTPPerson(int32_t context, int32_t *member);
rtperror RTPMostRecentRTCPPerson(int32_t context, int32_t *member);
rtperror RTPMostRecentAddr(int32_t context, sockaddr_in *address);
// Per-thread buffers with the dotted address and the "%hu" port.
rtperror RTPMostRecentAddrText(int32_t context, const char **address, const char **port);
// The report block this context would send now about a source, without starting a new
// reporting interval.
rtperror RTPSenderInfoGetFracLost(int32_t context, int32_t member, rtp_report_t *report);

}  // namespace sipline
