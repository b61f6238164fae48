#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "dsp/dtmf.h"
#include "dsp/tests/signal.h"

namespace sipline::dsp {
namespace {

const std::string kAllKeys = "0123456789*#ABCD";
constexpr int kBlock = 160;

// Everything `tone` writes in kBlock-sample blocks until it stops.
std::vector<int16_t> drain(DtmfTone &tone) {
    std::vector<int16_t> out;
    int16_t block[kBlock];
    while (tone.generate(block, kBlock) == kBlock) {
        out.insert(out.end(), block, block + kBlock);
    }
    return out;
}

size_t last_nonzero(const std::vector<int16_t> &s) {
    auto it = std::find_if(s.rbegin(), s.rend(), [](int16_t v) { return v != 0; });
    return static_cast<size_t>(s.rend() - it);
}

double db(double ratio) {
    return 20 * std::log10(ratio);
}

TEST(DtmfTone, EveryKeyIsItsQ23PairAtTheAskedLevel) {
    const int all_hz[] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};
    for (int level : {-10, -25}) {
        for (char key : kAllKeys) {
            DtmfTone tone;
            ASSERT_TRUE(tone.start(key, 100, level));
            std::vector<int16_t> s = drain(tone);
            ASSERT_EQ(s.size(), 800u);
            auto [low, high] = test::frequencies(key);
            double want = test::sine_peak(level);
            for (int hz : all_hz) {
                double got = test::goertzel(s.data(), s.size(), hz);
                if (hz == low || hz == high) {
                    EXPECT_NEAR(db(got / want), 0.0, 0.5) << key << " at " << hz << " Hz";
                } else {
                    EXPECT_LT(db(got / want), -20.0) << key << " leaks into " << hz << " Hz";
                }
            }
        }
    }
}

TEST(DtmfTone, LowerCaseLettersAreKeysAndOthersAreRefused) {
    DtmfTone lower, upper;
    ASSERT_TRUE(lower.start('b', 50));
    ASSERT_TRUE(upper.start('B', 50));
    EXPECT_EQ(drain(lower), drain(upper));

    DtmfTone tone;
    for (char bad : std::string("EeXx+ ,\0", 9)) {
        EXPECT_FALSE(tone.start(bad, 100)) << "key " << static_cast<int>(bad);
    }
    EXPECT_FALSE(tone.start('1', 0));
    EXPECT_FALSE(tone.start('1', -40));
    EXPECT_FALSE(tone.start('1', 100, 3));
    EXPECT_FALSE(tone.start('1', 100, -70));
    EXPECT_FALSE(tone.playing());
    int16_t block[kBlock] = {1};
    EXPECT_EQ(tone.generate(block, kBlock), 0);
    EXPECT_EQ(block[0], 1) << "an idle tone writes nothing";
}

TEST(DtmfTone, EndsMidBlockWithTheTailZeroed) {
    DtmfTone tone;
    ASSERT_TRUE(tone.start('5', 45));  // 360 samples: 2 blocks and 40 samples
    std::vector<int16_t> s = drain(tone);
    ASSERT_EQ(s.size(), 3u * kBlock);
    EXPECT_EQ(last_nonzero(s), 360u) << "tone stops at 45 ms";
    EXPECT_GT(last_nonzero(s), 350u);
    EXPECT_FALSE(tone.playing());
}

TEST(DtmfTone, ExtendStopAndRestart) {
    DtmfTone tone;
    ASSERT_TRUE(tone.start('0', 100));
    int16_t block[kBlock];
    ASSERT_EQ(tone.generate(block, kBlock), kBlock);  // 20 ms gone
    tone.extend(300);
    tone.extend(200);  // an older update arriving late does not cut the tone
    std::vector<int16_t> rest = drain(tone);
    EXPECT_EQ(rest.size(), 2400u - kBlock);
    // The phase runs on across the extension: the pair stays clean over its whole length.
    EXPECT_NEAR(db(test::goertzel(rest.data(), rest.size(), 941) / test::sine_peak(-10)), 0, 0.5);

    tone.extend(1000);
    EXPECT_FALSE(tone.playing()) << "extend does not restart an ended tone";

    ASSERT_TRUE(tone.start('1', 1000));
    ASSERT_EQ(tone.generate(block, kBlock), kBlock);
    tone.stop();
    EXPECT_FALSE(tone.playing());
    EXPECT_EQ(tone.generate(block, kBlock), 0);

    ASSERT_TRUE(tone.start('2', 1000));
    ASSERT_TRUE(tone.start('3', 40)) << "a new start replaces the tone playing";
    EXPECT_EQ(drain(tone).size(), 2u * kBlock);
}

TEST(DtmfTone, ADetectorHearsEachKeyOnce) {
    std::string heard;
    DtmfDetector detector([&](char key, bool down) {
        if (down) {
            heard += key;
        }
    });
    DtmfTone tone;
    std::vector<int16_t> gap(800, 0);
    for (char key : kAllKeys) {
        ASSERT_TRUE(tone.start(key, 100, -25));
        std::vector<int16_t> s = drain(tone);
        detector.feed(s.data(), static_cast<int>(s.size()));
        detector.feed(gap.data(), static_cast<int>(gap.size()));
    }
    EXPECT_EQ(heard, kAllKeys);
}

TEST(DtmfTone, MovedFromIsInert) {
    DtmfTone a;
    ASSERT_TRUE(a.start('4', 100));
    DtmfTone b = std::move(a);
    EXPECT_TRUE(b.playing());
    EXPECT_FALSE(a.playing());  // NOLINT(bugprone-use-after-move): checked on purpose
    EXPECT_FALSE(a.start('4', 100));
    a.stop();
    a.extend(100);
    int16_t block[kBlock];
    EXPECT_EQ(a.generate(block, kBlock), 0);
}

}  // namespace
}  // namespace sipline::dsp
