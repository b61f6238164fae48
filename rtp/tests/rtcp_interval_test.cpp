#include "rtp/rtcp_interval.h"

#include <gtest/gtest.h>

namespace sipline {
namespace {

TEST(RtcpInterval, WorkedExamples) {
    struct Case {
        const char *what;
        int members, senders;
        bool as_sender;
        double expected;
    } cases[] = {
        // 120 x 0.05 x 128 = 768 bytes/s. One sender of two is not under 2 x 0.25.
        {"two members, one sends: 256/768 s raised to the minimum", 2, 1, false, 5.0},
        {"same, as the sender", 2, 1, true, 5.0},
        // 18 x 128 / (0.75 x 768) = 4 s, raised to 5.
        {"twenty members, two send, receiver", 20, 2, false, 5.0},
        {"twenty members, two send, sender", 20, 2, true, 5.0},
        {"100 receivers: 100 x 128 / 768", 100, 0, false, 100.0 * 128 / 768},
        // 10 < 200 x 0.25: senders share 192 bytes/s among themselves.
        {"200 members, 10 senders, sender", 200, 10, true, 10.0 * 128 / 192},
        {"200 members, 10 senders, receiver", 200, 10, false, 190.0 * 128 / 576},
        {"50 senders of 200 is not a small share", 200, 50, true, 200.0 * 128 / 768},
    };
    for (const Case &c : cases) {
        rtcp_interval_input_t in{120.0f, 0.05f, 0.25f, 128.0, c.members, c.senders, c.as_sender};
        EXPECT_NEAR(rtcp_interval(in), c.expected, 1e-6) << c.what;
    }
}

TEST(RtcpInterval, AverageSizeScalesTheInterval) {
    rtcp_interval_input_t in{120.0f, 0.05f, 0.25f, 256.0, 100, 0, false};
    EXPECT_NEAR(rtcp_interval(in), 100.0 * 256 / 768, 1e-6);
}

TEST(RtcpInterval, NoBandwidthFallsBackToTheMinimum) {
    rtcp_interval_input_t in{0.0f, 0.05f, 0.25f, 128.0, 100, 0, false};
    EXPECT_EQ(rtcp_interval(in), RTCP_MIN_INTERVAL);
}

}  // namespace
}  // namespace sipline
