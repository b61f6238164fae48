// RTCP extended reports (RFC 3611): the VoIP metrics block (block type 7) a context sends with
// each regular report once the application has set it, and the last one each member sent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rtp/errors.h"

namespace sipline {

inline constexpr uint8_t RTCP_XR = 207;
inline constexpr uint8_t RTCP_XR_VOIP_METRICS = 7;
// RFC 3611 section 4.7: the block's length field (words after its first) and its size.
inline constexpr std::size_t RTCP_XR_VOIP_WORDS = 8;
inline constexpr std::size_t RTCP_XR_VOIP_SIZE = 4 + 4 * RTCP_XR_VOIP_WORDS;
// The fields that say "unavailable" with 127 (signal, noise, RERL, R factors, MOS); delays and
// burst figures say it with 0.
inline constexpr uint8_t RTCP_XR_UNAVAILABLE = 127;
// The burst threshold RFC 3611 section 4.7.2 recommends.
inline constexpr uint8_t RTCP_XR_GMIN = 16;

// The fields of a VoIP metrics block, host order, as RFC 3611 section 4.7 names them: rates
// and densities are fractions of 256, durations and delays milliseconds, levels dB (signed).
struct rtp_voip_metrics_t {
    uint32_t ssrc = 0;  // the source the metrics are about
    uint8_t loss_rate = 0;
    uint8_t discard_rate = 0;
    uint8_t burst_density = 0;
    uint8_t gap_density = 0;
    uint16_t burst_duration = 0;
    uint16_t gap_duration = 0;
    uint16_t round_trip_delay = 0;
    uint16_t end_system_delay = 0;
    uint8_t signal_level = RTCP_XR_UNAVAILABLE;
    uint8_t noise_level = RTCP_XR_UNAVAILABLE;
    uint8_t rerl = RTCP_XR_UNAVAILABLE;
    uint8_t gmin = RTCP_XR_GMIN;
    uint8_t r_factor = RTCP_XR_UNAVAILABLE;
    uint8_t ext_r_factor = RTCP_XR_UNAVAILABLE;
    uint8_t mos_lq = RTCP_XR_UNAVAILABLE;
    uint8_t mos_cq = RTCP_XR_UNAVAILABLE;
    uint8_t rx_config = 0;  // PLC (2 bits), jitter buffer adaptive (2 bits), its rate (4 bits)
    uint16_t jb_nominal = 0;
    uint16_t jb_maximum = 0;
    uint16_t jb_abs_max = 0;
};

// RX config values (RFC 3611 section 4.7.6).
inline constexpr uint8_t RTCP_XR_PLC_STANDARD = 0xC0;
inline constexpr uint8_t RTCP_XR_JB_ADAPTIVE = 0x30;

// From now on every regular report of the context carries an XR packet with this block; null
// stops it. May be called from any thread.
rtperror RTPSetVoIPMetrics(int32_t context, const rtp_voip_metrics_t *metrics);
// The last VoIP metrics block the member (by unique id) sent in an XR packet; *found is false
// when it sent none. RTP_NO_SUCH_PERSON for no such member.
rtperror RTPMemberInfoGetVoIPMetrics(int32_t context, int32_t member, bool *found,
                                     rtp_voip_metrics_t *metrics);

// The wire form. rtcp_xr_voip_size: the XR packet with one block (header, reporter SSRC,
// block). rtcp_put_xr_voip writes it at p and returns its size.
std::size_t rtcp_xr_voip_size();
std::size_t rtcp_put_xr_voip(uint8_t *p, uint32_t reporter, const rtp_voip_metrics_t &metrics);

// Reads an XR packet of bytes bytes (the caller knows its length: the header's first byte and
// length field are not read, so that a host-form header serves as well): its reporter SSRC
// and its first VoIP metrics block, in wire order. Blocks of other types are stepped over by their
// length; a block whose length runs past the packet ends the walk. False when the packet is no XR,
// too short, or has no whole VoIP metrics block.
bool rtcp_read_xr_voip(const uint8_t *packet, std::size_t bytes, uint32_t *reporter,
                       rtp_voip_metrics_t *metrics);

}  // namespace sipline
