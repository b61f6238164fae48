// Building the compounds a context sends: a regular report (SR or RR packets, then SDES) and a
// farewell (SR or RR packets, then BYE), RFC 1889 section 6.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rtp/context_internal.h"

namespace sipline {

// The regular report into buf (room bytes). A compound that would not fit is cut: report blocks
// that do not fit are left out of this report (the first ones on the activity list are sent),
// then contributor SDES chunks; the own chunk always has its room. Returns the length.
std::size_t RTCPBuildReport(rtp_context_t *ctx, uint8_t *buf, std::size_t room);

// The farewell: the report section, then a BYE for the own SSRC and every contributor
// (all = true) or for ssrc alone. The BYE always has its room; report blocks give way.
std::size_t RTCPBuildBye(rtp_context_t *ctx, uint8_t *buf, std::size_t room, bool all,
                         uint32_t ssrc, const char *reason);

}  // namespace sipline
