#include <cmath>

#include "rtp/context_internal.h"

namespace sipline {

namespace {
// Seconds from 1900 (NTP era 0) to 1970.
constexpr uint32_t ntp_unix_offset = 2208988800u;
constexpr uint32_t max_cumulative_lost = 0xFFFFFF;
}  // namespace

void RTPNtpTime(const timeval &time, uint32_t *seconds, uint32_t *fraction) {
    auto micros = static_cast<uint64_t>(time.tv_usec);
    *seconds = static_cast<uint32_t>(time.tv_sec) + ntp_unix_offset;
    // micros * 2^32 / 10^6, without floating point.
    *fraction = static_cast<uint32_t>(micros * 4096 + micros * 256 - (micros * 1825) / 32);
}

void RTPUpdateStats(rtp_context_t *ctx, rtp_member_t *member, uint16_t sequence, uint32_t timestamp,
                    uint8_t payload_type, const timeval &arrival) {
    rtp_stats_t *s = member->stats.get();
    if (s == nullptr) {
        member->stats = std::make_unique<rtp_stats_t>();
        s = member->stats.get();
        s->last_timestamp = timestamp;
        s->last_arrival = arrival;
        s->base_sequence = sequence;
        s->highest_sequence = sequence;
    } else {
        // RFC 1889 appendix A.8, in double precision; the timestamp difference is taken as
        // plain numbers so that a wrap of the 32-bit timestamp shows as one large jump.
        double timestamps = static_cast<double>(timestamp) - static_cast<double>(s->last_timestamp);
        int32_t rate = ctx->stamp_rate[payload_type & 0x7F];
        double arrivals = 0.0;
        if (rate != 0) {
            arrivals = rtp_seconds_between(arrival, s->last_arrival) * 1e6 / rate;
        }
        double d = std::fabs(timestamps - arrivals);
        s->jitter = s->jitter < 0 ? d : s->jitter * 0.9375 + d / 16;
        s->last_timestamp = timestamp;
        s->last_arrival = arrival;
    }
    ++s->since_report;
    int32_t d = static_cast<int32_t>(sequence) - static_cast<int32_t>(s->highest_sequence & 0xFFFF);
    if (d > 0) {
        s->highest_sequence += static_cast<uint32_t>(d);
    } else if (d < -32768) {
        s->highest_sequence += static_cast<uint32_t>(65536 + d);
    }
}

void RTPReportBlock(rtp_context_t *ctx, rtp_member_t *member, bool new_interval,
                    rtp_report_t *report) {
    (void)ctx;
    rtp_stats_t *s = member->stats.get();
    *report = {};
    report->reporter = 0;
    uint32_t expected = s->highest_sequence - s->base_sequence + 1;
    uint32_t lost = expected - (s->before_report + s->since_report);
    report->cumulative_lost = lost > max_cumulative_lost ? max_cumulative_lost : lost;
    auto expected_interval = static_cast<int64_t>(expected) - s->expected_at_report;
    int64_t lost_interval = expected_interval - s->since_report;
    if (expected_interval > 0 && lost_interval > 0) {
        int64_t fraction = (lost_interval * 256) / expected_interval;
        report->fraction_lost = static_cast<uint8_t>(fraction > 255 ? 255 : fraction);
    }
    report->highest_sequence = s->highest_sequence;
    report->jitter = static_cast<uint32_t>(s->jitter < 0 ? 0 : s->jitter);
    if (rtp_time_set(member->last_sr)) {
        report->lsr = (member->sr_ntp_sec << 16) | (member->sr_ntp_frac >> 16);
        report->dlsr =
            static_cast<uint32_t>(rtp_seconds_between(rtp_now(), member->last_sr) * 65536);
    }
    if (new_interval) {
        s->expected_at_report = expected;
        s->before_report += s->since_report;
        s->since_report = 0;
    }
}

}  // namespace sipline
