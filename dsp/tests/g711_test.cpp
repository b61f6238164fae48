#include "dsp/g711.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace sipline::dsp {
namespace {

TEST(G711, KnownCodes) {
    EXPECT_EQ(linear_to_ulaw(0), 0xFF);
    EXPECT_EQ(ulaw_to_linear(0xFF), 0);
    EXPECT_EQ(ulaw_to_linear(0x00), -32124);
    EXPECT_EQ(ulaw_to_linear(0x80), 32124);
    EXPECT_EQ(linear_to_alaw(0), 0xD5);
    EXPECT_EQ(alaw_to_linear(0xD5), 8);
    EXPECT_EQ(alaw_to_linear(0x55), -8);
    EXPECT_EQ(alaw_to_linear(0xAA), 32256);
}

TEST(G711, EveryCodeSurvivesARoundTrip) {
    for (int code = 0; code < 256; ++code) {
        auto c = static_cast<uint8_t>(code);
        // 0x7F is mu-law's negative zero, which encodes back as positive zero.
        EXPECT_EQ(linear_to_ulaw(ulaw_to_linear(c)), code == 0x7F ? 0xFF : code) << code;
        EXPECT_EQ(linear_to_alaw(alaw_to_linear(c)), code) << code;
    }
}

TEST(G711, QuantisingErrorStaysWithinTheSegmentStep) {
    for (int x = -32768; x <= 32767; x += 7) {
        auto v = static_cast<int16_t>(x);
        int step = std::abs(x) / 16 + 16;  // half the widest step of the segment, with margin
        EXPECT_LE(std::abs(ulaw_to_linear(linear_to_ulaw(v)) - x), step) << x;
        EXPECT_LE(std::abs(alaw_to_linear(linear_to_alaw(v)) - x), step) << x;
    }
}

}  // namespace
}  // namespace sipline::dsp
