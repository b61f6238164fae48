// The RTCP interval of RFC 1889 section 6.2 with this engine's constants, as pure arithmetic so
// that it can be checked without a context or a clock.
#pragma once

namespace sipline {

inline constexpr double RTCP_MIN_INTERVAL = 5.0;        // seconds, also during the initial phase
inline constexpr double RTCP_INITIAL_AVG_SIZE = 128.0;  // bytes, assumed until a report is sent

struct rtcp_interval_input_t {
    float session_bandwidth;  // kbit/s
    float rtcp_fraction;
    float sender_share;
    double avg_rtcp_size;  // bytes; the caller passes 128 while the initial flag is set
    int members;           // confirmed members, the own member included
    int senders;
    bool as_sender;
};

struct rtp_context_t;

// Seconds between reports before randomisation; never below the 5 s minimum.
double rtcp_interval(const rtcp_interval_input_t &in);

// The interval of a context now, for its confirmed members and senders. While the initial flag
// is set the average compound size is taken as 128 bytes again (RFC 1889 section 6.2).
double RTCPInterval(rtp_context_t *ctx, bool as_sender);

}  // namespace sipline
