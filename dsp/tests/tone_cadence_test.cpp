#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "dsp/tests/signal.h"
#include "dsp/tone_cadence.h"

namespace sipline::dsp {
namespace {

const ToneCadence kEtsi{425, 0, 500, 500};
const ToneCadence kUs{480, 620, 500, 500};

std::vector<int16_t> play(const ToneCadence &c, int ms, int level = -13) {
    CadenceTone tone;
    EXPECT_TRUE(tone.start(c, level));
    std::vector<int16_t> out(static_cast<size_t>(ms * 8));
    for (size_t at = 0; at < out.size(); at += 160) {
        tone.generate(out.data() + at, static_cast<int>(std::min<size_t>(160, out.size() - at)));
    }
    return out;
}

// Milliseconds of `signal` until the detector fires; -1 when it never does.
int detect_ms(const std::vector<ToneCadence> &cadences, const std::vector<int16_t> &signal) {
    DisconnectToneDetector detector(cadences);
    for (size_t at = 0; at < signal.size(); at += 160) {
        detector.feed(signal.data() + at,
                      static_cast<int>(std::min<size_t>(160, signal.size() - at)));
        if (detector.detected()) {
            return static_cast<int>((at + 160) / 8);
        }
    }
    return -1;
}

TEST(CadenceTone, PlaysOnAndOffAtTheCadence) {
    std::vector<int16_t> s = play(kEtsi, 2000);
    // 100 ms windows in the middle of each part: tone at 425 Hz, then nothing.
    for (int part = 0; part < 4; ++part) {
        const int16_t *window = s.data() + part * 4000 + 1600;
        double amplitude = test::goertzel(window, 800, 425);
        if (part % 2 == 0) {
            EXPECT_GT(amplitude, test::sine_peak(-16)) << "part " << part;
        } else {
            EXPECT_LT(amplitude, test::sine_peak(-50)) << "part " << part;
        }
    }
}

TEST(DisconnectToneDetector, FindsUsEtsiAndUkToneAfterTwoCycles) {
    // 400 and 425 Hz side by side: close frequencies must not hide each other.
    const std::vector<ToneCadence> both{kUs, kEtsi, {400, 0, 375, 375}};
    for (const ToneCadence &c : both) {
        // Levels per frequency; the US tone is sent at -24 dBm0 per frequency (ANSI T1.401).
        for (int level : {-10, -24}) {
            int ms = detect_ms(both, play(c, 4000, level));
            EXPECT_GE(ms, 3 * (c.on_ms + c.off_ms) / 2 - 200)
                << c.f1_hz << " at " << level << ": too early";
            EXPECT_LE(ms, 2 * (c.on_ms + c.off_ms) + 300)
                << c.f1_hz << " at " << level << ": late or never";
        }
    }
}

TEST(DisconnectToneDetector, IgnoresWhatIsNotTheCadence) {
    const std::vector<ToneCadence> etsi{kEtsi};
    EXPECT_EQ(detect_ms(etsi, play({425, 0, 250, 250}, 6000)), -1) << "half the cadence";
    EXPECT_EQ(detect_ms(etsi, play({425, 0, 800, 800}, 6000)), -1) << "slower cadence";
    EXPECT_EQ(detect_ms(etsi, play({425, 0, 6000, 0}, 6000)), -1) << "steady dial tone";
    EXPECT_EQ(detect_ms(etsi, play({1004, 0, 500, 500}, 6000)), -1) << "other frequency";
    EXPECT_EQ(detect_ms(etsi, test::white_noise(6000, -20, 5)), -1) << "noise";
    EXPECT_EQ(detect_ms({kUs}, play(kEtsi, 6000)), -1) << "ETSI tone against US cadence";
}

TEST(DisconnectToneDetector, SyllablesOfSpeechLikeToneDoNotHangUp) {
    // Voiced bursts with a wandering pitch at a syllable rate near the cadence.
    std::vector<int16_t> s;
    for (int syllable = 0; syllable < 24; ++syllable) {
        const double pitch = 150 + 40 * std::sin(syllable);
        const int on = 180 + 37 * (syllable % 5);
        for (int i = 0; i < on * 8; ++i) {
            double t = i / 8000.0, v = 0;
            for (int h = 1; h <= 5; ++h) {
                v += std::sin(2 * std::numbers::pi * pitch * h * t) / h;
            }
            s.push_back(static_cast<int16_t>(4000 * v));
        }
        test::append_silence(s, 120 + 53 * (syllable % 3));
    }
    EXPECT_EQ(detect_ms({kUs, kEtsi}, s), -1);
}

TEST(SilenceDetector, FiresAfterItsTimeOfQuietOnly) {
    SilenceDetector off(0);
    SilenceDetector two(2);
    std::vector<int16_t> quiet = test::white_noise(1000, -60, 1);
    std::vector<int16_t> loud = test::white_noise(100, -20, 2);
    for (int second = 0; second < 3; ++second) {
        off.feed(quiet.data(), static_cast<int>(quiet.size()));
        two.feed(quiet.data(), static_cast<int>(quiet.size()));
        EXPECT_EQ(two.detected(), second >= 1) << second;
        if (second == 0) {
            two.feed(loud.data(), static_cast<int>(loud.size()));  // a word restarts the count
            two.feed(quiet.data(), static_cast<int>(quiet.size()));
        }
    }
    EXPECT_FALSE(off.detected());
}

TEST(ParseToneCadence, FrequenciesAndTimes) {
    const struct {
        const char *text;
        bool ok;
        ToneCadence c;
    } rows[] = {
        {"425/500/500", true, {425, 0, 500, 500}},
        {"480+620/500/500", true, {480, 620, 500, 500}},
        {"400/375/375", true, {400, 0, 375, 375}},
        {"425/500", false, {}},
        {"425/500/500/", false, {}},
        {"425 /500/500", false, {}},
        {"50/500/500", false, {}},
        {"425/500/0", false, {}},
        {"425/99999999999/500", false, {}},
        {"480+/500/500", false, {}},
        {"", false, {}},
    };
    for (const auto &row : rows) {
        ToneCadence c{1, 2, 3, 4};
        EXPECT_EQ(parse_tone_cadence(row.text, &c), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(c.f1_hz, row.c.f1_hz) << row.text;
            EXPECT_EQ(c.f2_hz, row.c.f2_hz) << row.text;
            EXPECT_EQ(c.on_ms, row.c.on_ms) << row.text;
            EXPECT_EQ(c.off_ms, row.c.off_ms) << row.text;
        } else {
            EXPECT_EQ(c.f1_hz, 1) << row.text << ": touched on failure";
        }
    }
}

}  // namespace
}  // namespace sipline::dsp
