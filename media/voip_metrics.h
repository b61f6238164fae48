// The call's figures as an RFC 3611 VoIP metrics block, sent with the gateway's RTCP reports
// about the caller's audio.
#pragma once

#include <cstdint>

#include "dsp/jitter_buffer.h"
#include "rtp/rtcp_xr.h"

namespace sipline {

// The application's E-model, where it has one (the service's, ITU-T G.107): R from the codec
// (SDP_CODEC_*), the percentage of packets lost and the mouth-to-ear delay in milliseconds, and
// the conversational MOS that R predicts.
struct voip_rating_t {
    double (*rating)(int32_t codec, double loss_percent, double delay_ms);
    double (*mos)(double rating);
};
// Registered once before the calls (null: none); the record must outlive them.
void MediaSetVoIPRating(const voip_rating_t *rating);

// About the source ssrc, from the jitter buffer's figures and the codec playing. What the
// gateway does not measure (burst and gap figures, round-trip and end system delay, levels,
// listening MOS, and R and MOS without a registered rating) says "unavailable" as RFC 3611
// section 4.7 has it: 0 for the first ones, 127 for the others.
rtp_voip_metrics_t MediaVoIPMetrics(const dsp::JitterStats &stats, uint32_t ssrc, int32_t codec);

}  // namespace sipline
