// The jitter buffer's figures as RFC 3611 VoIP metrics: rates as fractions of 256 of the
// expected packets, discards counting the late and the shed, the buffer's delays.
#include "media/voip_metrics.h"

#include <gtest/gtest.h>

#include "sip/sdp/media_description.h"

namespace sipline {
namespace {

TEST(VoipMetrics, RatesAreFractionsOf256OfTheExpectedPackets) {
    struct row {
        const char *what;
        int64_t received, lost, late, shrunk, duplicated;
        uint8_t loss_rate, discard_rate;
    };
    const row rows[] = {
        {"nothing yet", 0, 0, 0, 0, 0, 0, 0},
        {"clean", 1000, 0, 0, 0, 5, 0, 0},
        {"3 % lost", 970, 30, 0, 0, 0, 7, 0},
        {"late and shed both discarded", 1000, 0, 10, 10, 0, 0, 5},
        {"duplicates are neither", 1000, 0, 0, 0, 400, 0, 0},
        {"everything lost saturates", 0, 50, 0, 0, 0, 255, 0},
    };
    for (const row &r : rows) {
        dsp::JitterStats s;
        s.received = r.received;
        s.lost = r.lost;
        s.late = r.late;
        s.shrunk = r.shrunk;
        s.duplicated = r.duplicated;
        const rtp_voip_metrics_t m = MediaVoIPMetrics(s, 0x1234, SDP_CODEC_PCMU);
        EXPECT_EQ(m.loss_rate, r.loss_rate) << r.what;
        EXPECT_EQ(m.discard_rate, r.discard_rate) << r.what;
        EXPECT_EQ(m.ssrc, 0x1234u) << r.what;
    }
}

TEST(VoipMetrics, BufferDelaysAndUnmeasuredFields) {
    dsp::JitterStats s;
    s.received = 100;
    s.delay_ms = 45;
    s.delay_most_ms = 120;
    const rtp_voip_metrics_t m = MediaVoIPMetrics(s, 1, SDP_CODEC_PCMU);
    EXPECT_EQ(m.jb_nominal, 45);
    EXPECT_EQ(m.jb_maximum, 120);
    EXPECT_EQ(m.jb_abs_max, dsp::JitterBuffer::kMostMs);
    EXPECT_EQ(m.rx_config, 0xF0) << "standard concealment, adaptive buffer";
    EXPECT_EQ(m.r_factor, RTCP_XR_UNAVAILABLE) << "no rating registered";
    EXPECT_EQ(m.mos_cq, RTCP_XR_UNAVAILABLE) << "no rating registered";
    EXPECT_EQ(m.mos_lq, RTCP_XR_UNAVAILABLE);
    EXPECT_EQ(m.signal_level, RTCP_XR_UNAVAILABLE);
    EXPECT_EQ(m.gmin, RTCP_XR_GMIN);
    EXPECT_EQ(m.round_trip_delay, 0) << "not measured";
    EXPECT_EQ(m.burst_density, 0) << "not measured";
}

TEST(VoipMetrics, ARegisteredRatingGivesRAndConversationalMos) {
    static const voip_rating_t rating{
        [](int32_t codec, double loss_percent, double delay_ms) {
            // Seen by the rating: the codec, the loss in percent, the buffer's delay and a frame.
            return codec == SDP_CODEC_GSM && loss_percent == 2.0 && delay_ms == 60.0 ? 73.4 : 0;
        },
        [](double r) { return r > 70 ? 3.64 : 1.0; }};
    MediaSetVoIPRating(&rating);
    dsp::JitterStats s;
    s.received = 98;
    s.lost = 2;
    s.delay_ms = 40;
    const rtp_voip_metrics_t m = MediaVoIPMetrics(s, 1, SDP_CODEC_GSM);
    MediaSetVoIPRating(nullptr);
    EXPECT_EQ(m.r_factor, 73);
    EXPECT_EQ(m.mos_cq, 36);
    EXPECT_EQ(m.mos_lq, RTCP_XR_UNAVAILABLE) << "listening quality is not estimated";
}

}  // namespace
}  // namespace sipline
