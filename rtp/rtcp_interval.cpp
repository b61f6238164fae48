#include "rtp/rtcp_interval.h"

#include <algorithm>
#include <cmath>

namespace sipline {

double rtcp_interval(const rtcp_interval_input_t &in) {
    // kbit/s to bytes per second: x 1000 / 8 = x 125; this engine uses 128.
    double bandwidth = double{in.session_bandwidth} * in.rtcp_fraction * 128.0;
    double n = in.members;
    double share = in.sender_share;
    // RFC 1889 section 6.2: when senders are a small part of the session they get their share
    // of the RTCP bandwidth to themselves and the receivers share the rest.
    if (in.senders > 0 && in.senders < n * share) {
        if (in.as_sender) {
            bandwidth *= share;
            n = in.senders;
        } else {
            bandwidth *= 1.0 - share;
            n -= in.senders;
        }
    }
    if (!(bandwidth > 0.0)) {
        return RTCP_MIN_INTERVAL;
    }
    double interval = n * in.avg_rtcp_size / bandwidth;
    if (!std::isfinite(interval)) {
        return RTCP_MIN_INTERVAL;
    }
    return std::max(interval, RTCP_MIN_INTERVAL);
}

}  // namespace sipline
