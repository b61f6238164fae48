#include "media/voip_metrics.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace sipline {
namespace {

// One packet's worth of delay on top of the buffer's, as the service's call records count it.
constexpr int64_t FRAME_MS = 20;

// Written once at start-up, read by InTh.
std::atomic<const voip_rating_t *> registered_rating{nullptr};

// A share of the expected packets as a fraction of 256, as RFC 3611 section 4.7.1 counts loss
// and discard rates; a whole share saturates at 255.
uint8_t fraction(int64_t part, int64_t whole) {
    if (whole <= 0 || part <= 0) {
        return 0;
    }
    return static_cast<uint8_t>(std::min<int64_t>(part * 256 / whole, 255));
}

uint16_t milliseconds(int64_t ms) {
    return static_cast<uint16_t>(std::clamp<int64_t>(ms, 0, 0xFFFF));
}

}  // namespace

void MediaSetVoIPRating(const voip_rating_t *rating) {
    registered_rating.store(rating, std::memory_order_release);
}

rtp_voip_metrics_t MediaVoIPMetrics(const dsp::JitterStats &stats, uint32_t ssrc, int32_t codec) {
    rtp_voip_metrics_t m;
    m.ssrc = ssrc;
    const int64_t expected = stats.received + stats.lost;
    m.loss_rate = fraction(stats.lost, expected);
    // Discarded: too late to play, or dropped to shrink the buffer (section 4.7.1: "late or
    // early arrival, under-run or overflow"); duplicates are neither lost nor discarded.
    m.discard_rate = fraction(stats.late + stats.shrunk, expected);
    // spandsp's concealment repeats pitch periods, as G.711 Appendix I does: "standard" (11);
    // the buffer adapts (11) at an unspecified rate (0).
    m.rx_config = RTCP_XR_PLC_STANDARD | RTCP_XR_JB_ADAPTIVE;
    m.jb_nominal = milliseconds(stats.delay_ms);
    m.jb_maximum = milliseconds(stats.delay_most_ms);
    m.jb_abs_max = milliseconds(dsp::JitterBuffer::kMostMs);
    const voip_rating_t *rating = registered_rating.load(std::memory_order_acquire);
    if (rating != nullptr && expected > 0) {
        const double loss = 100.0 * static_cast<double>(stats.lost) / static_cast<double>(expected);
        const double r =
            rating->rating(codec, loss, static_cast<double>(stats.delay_ms + FRAME_MS));
        // R 0 to 100; MOS in tenths, 10 to 50 (section 4.7.5).
        m.r_factor = static_cast<uint8_t>(std::clamp(std::lround(r), 0L, 100L));
        m.mos_cq = static_cast<uint8_t>(std::clamp(std::lround(rating->mos(r) * 10), 10L, 50L));
    }
    return m;
}

}  // namespace sipline
