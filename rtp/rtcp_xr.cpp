#include "rtp/rtcp_xr.h"

#include <mutex>

#include "rtp/context_internal.h"
#include "rtp/members_internal.h"
#include "rtp/rtcp_wire.h"

namespace sipline {
namespace {

// RFC 3611 section 2: the XR header is the common header with a reserved byte for the count,
// then the reporter's SSRC; each block starts with its type, a type-specific byte and its
// length in words after its first.
constexpr std::size_t XR_FIXED_SIZE = 8;
constexpr std::size_t BLOCK_HEADER_SIZE = 4;

}  // namespace

rtperror RTPSetVoIPMetrics(int32_t context, const rtp_voip_metrics_t *metrics) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPSetVoIPMetrics", &error);
    if (ctx == nullptr) {
        return error;
    }
    std::lock_guard lock(ctx->voip_mutex);
    ctx->voip_metrics = metrics ? std::optional(*metrics) : std::nullopt;
    return RTP_OK;
}

rtperror RTPMemberInfoGetVoIPMetrics(int32_t context, int32_t member, bool *found,
                                     rtp_voip_metrics_t *metrics) {
    rtperror error = RTP_OK;
    const rtp_member_t *m =
        RTPMemberFind(context, member, "RTPMemberInfoGetVoIPMetrics", &error, nullptr);
    if (m == nullptr) {
        return error;
    }
    *found = m->voip_metrics.has_value();
    if (*found) {
        *metrics = *m->voip_metrics;
    }
    return RTP_OK;
}

std::size_t rtcp_xr_voip_size() {
    return XR_FIXED_SIZE + RTCP_XR_VOIP_SIZE;
}

std::size_t rtcp_put_xr_voip(uint8_t *p, uint32_t reporter, const rtp_voip_metrics_t &m) {
    const std::size_t size = rtcp_xr_voip_size();
    rtcp_put_header(p, 0, RTCP_XR, size);
    rtcp_put_u32(p + 4, reporter);
    uint8_t *b = p + XR_FIXED_SIZE;
    b[0] = RTCP_XR_VOIP_METRICS;
    b[1] = 0;
    rtcp_put_u16(b + 2, static_cast<uint16_t>(RTCP_XR_VOIP_WORDS));
    rtcp_put_u32(b + 4, m.ssrc);
    b[8] = m.loss_rate;
    b[9] = m.discard_rate;
    b[10] = m.burst_density;
    b[11] = m.gap_density;
    rtcp_put_u16(b + 12, m.burst_duration);
    rtcp_put_u16(b + 14, m.gap_duration);
    rtcp_put_u16(b + 16, m.round_trip_delay);
    rtcp_put_u16(b + 18, m.end_system_delay);
    b[20] = m.signal_level;
    b[21] = m.noise_level;
    b[22] = m.rerl;
    b[23] = m.gmin;
    b[24] = m.r_factor;
    b[25] = m.ext_r_factor;
    b[26] = m.mos_lq;
    b[27] = m.mos_cq;
    b[28] = m.rx_config;
    b[29] = 0;
    rtcp_put_u16(b + 30, m.jb_nominal);
    rtcp_put_u16(b + 32, m.jb_maximum);
    rtcp_put_u16(b + 34, m.jb_abs_max);
    return size;
}

bool rtcp_read_xr_voip(const uint8_t *packet, std::size_t bytes, uint32_t *reporter,
                       rtp_voip_metrics_t *metrics) {
    if (bytes < XR_FIXED_SIZE || packet[1] != RTCP_XR) {
        return false;
    }
    const std::size_t end = bytes;
    std::size_t at = XR_FIXED_SIZE;
    while (end - at >= BLOCK_HEADER_SIZE) {
        const uint8_t *b = packet + at;
        const std::size_t size = BLOCK_HEADER_SIZE + 4 * std::size_t{rtcp_get_u16(b + 2)};
        if (size > end - at) {
            return false;
        }
        if (b[0] == RTCP_XR_VOIP_METRICS && size >= RTCP_XR_VOIP_SIZE) {
            rtp_voip_metrics_t m;
            m.ssrc = rtcp_get_u32(b + 4);
            m.loss_rate = b[8];
            m.discard_rate = b[9];
            m.burst_density = b[10];
            m.gap_density = b[11];
            m.burst_duration = rtcp_get_u16(b + 12);
            m.gap_duration = rtcp_get_u16(b + 14);
            m.round_trip_delay = rtcp_get_u16(b + 16);
            m.end_system_delay = rtcp_get_u16(b + 18);
            m.signal_level = b[20];
            m.noise_level = b[21];
            m.rerl = b[22];
            m.gmin = b[23];
            m.r_factor = b[24];
            m.ext_r_factor = b[25];
            m.mos_lq = b[26];
            m.mos_cq = b[27];
            m.rx_config = b[28];
            m.jb_nominal = rtcp_get_u16(b + 30);
            m.jb_maximum = rtcp_get_u16(b + 32);
            m.jb_abs_max = rtcp_get_u16(b + 34);
            *reporter = rtcp_get_u32(packet + 4);
            *metrics = m;
            return true;
        }
        at += size;
    }
    return false;
}

}  // namespace sipline
