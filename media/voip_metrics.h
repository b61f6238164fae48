// The call's figures as an RFC 3611 VoIP metrics block, sent with the gateway's RTCP reports
// about the caller's audio.
#pragma once

#include <cstdint>

#include "dsp/jitter_buffer.h"
#include "rtp/rtcp_xr.h"

namespace sipline {

// About the source ssrc, from the jitter buffer's figures. What the gateway does not measure
// (burst and gap figures, round-trip and end system delay, levels, R factor, MOS) says
// "unavailable" as RFC 3611 section 4.7 has it: 0 for the first ones, 127 for the others.
rtp_voip_metrics_t MediaVoIPMetrics(const dsp::JitterStats &stats, uint32_t ssrc);

}  // namespace sipline
