// Placeholder for the RTCP side (reception, timing, BYE, time-outs, collisions): narrow
// stand-ins for the calls that the RTP side makes, so that the engine links and runs until
// the real ones land. This whole file goes when they do.
#include "rtp/members_internal.h"
#include "rtp/rtcp_internal.h"

namespace sipline {

rtperror UpdateMemberInfoByRTCP(rtp_context_t *ctx, char *packet, const sockaddr_in *from,
                                int32_t from_length, int32_t position) {
    (void)from_length;
    (void)position;
    auto type = static_cast<uint8_t>(packet[1]);
    if (type < RTCP_SR || type > RTCP_APP) {
        return RTPReportError(RTP_BAD_PACKET_FORMAT, "UpdateMemberInfoByRTCP",
                              "context %d, invalid RTCP payload type for packet format",
                              ctx->number);
    }
    int32_t bytes = (static_cast<uint16_t>(rtp_host32(packet) >> 16) + 1) * 4;
    if ((type == RTCP_SR || type == RTCP_RR) && bytes >= 8) {
        rtp_member_t *m = RTPMemberFindOrCreate(ctx, rtp_host32(packet + 4), from, true, false);
        RTPMemberCountSSRC(ctx, m);
    }
    return RTP_OK;
}

void RTCPMemberTimeouts(rtp_context_t *ctx) {
    (void)ctx;
}

void RTCPStart(rtp_context_t *ctx) {
    ctx->timestamp_advance = 0;
    ctx->initial = 1;
    ctx->packets_sent = 0;
    ctx->octets_sent = 0;
    ctx->last_rtcp = rtp_now();
    ctx->random_factor = random_uniform() + 0.5;
}

void RTCPEnd(rtp_context_t *ctx, const char *reason) {
    (void)ctx;
    (void)reason;
}

void RTCPSchedule(rtp_context_t *ctx, int32_t kind, uint32_t ssrc, const char *reason,
                  const timeval &due) {
    (void)ctx;
    (void)kind;
    (void)ssrc;
    (void)reason;
    (void)due;
}

rtp_member_t *RTCPResolveCollision(rtp_context_t *ctx, rtp_member_t *holder,
                                   const sockaddr_in *from, bool rtcp, bool contributor) {
    rtp_member_t *m =
        RTPMemberCreate(ctx, holder->ssrc, from, rtcp,
                        contributor ? RTP_MEMBER_CONFIRMED_CONTRIBUTOR : RTP_MEMBER_CONFIRMED);
    RTPChainAppend(ctx, holder, m);
    return m;
}

}  // namespace sipline
