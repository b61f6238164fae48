// Concealment of missing audio: the gap is filled with what was heard, fading to silence.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/concealment.h"
#include "dsp/tests/signal.h"

namespace sipline::dsp {
namespace {

std::vector<int16_t> tone(double hz, double peak, int n, int from = 0) {
    std::vector<int16_t> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        out[static_cast<size_t>(i)] =
            static_cast<int16_t>(std::lround(peak * std::sin(2 * M_PI * hz * (from + i) / 8000)));
    }
    return out;
}

TEST(Concealment, AShortGapIsFilledWithTheToneHeardBeforeIt) {
    Concealment c;
    auto heard = tone(500, 8000, 800);
    c.received(heard.data(), 800);
    std::vector<int16_t> gap(160);
    c.fill(gap.data(), 160);
    EXPECT_GT(test::goertzel(gap.data(), 160, 500), 4000) << "the fill carries the tone on";
    EXPECT_EQ(c.filling(), 160);
}

TEST(Concealment, ALongGapFadesToSilenceWithinTheFade) {
    Concealment c;
    auto heard = tone(500, 8000, 800);
    c.received(heard.data(), 800);
    std::vector<int16_t> gap(800);
    for (int at = 0; at < 800; at += 160) {
        c.fill(&gap[static_cast<size_t>(at)], 160);
    }
    for (size_t i = Concealment::kFadeMs * 8; i < gap.size(); ++i) {
        ASSERT_EQ(gap[i], 0) << "sample " << i << " after the fade";
    }
    auto after = tone(500, 8000, 160, 1600);
    c.received(after.data(), 160);
    EXPECT_EQ(c.filling(), 0);
}

}  // namespace
}  // namespace sipline::dsp
