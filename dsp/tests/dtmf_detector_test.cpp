#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsp/dtmf.h"
#include "dsp/tests/signal.h"

namespace sipline::dsp {
namespace {

using test::append_key;
using test::append_silence;

const std::string kAllKeys = "0123456789*#ABCD";

// Runs a detector over `signal` in `chunk`-sample blocks; "5+5-" is key 5 down, then up.
struct Heard {
    std::string events;
    bool consistent = true;  // every up matches the key that is down, and downs do not nest
    char down = 0;

    std::string keys() const {
        std::string out;
        for (size_t i = 0; i + 1 < events.size(); i += 2) {
            if (events[i + 1] == '+') {
                out += events[i];
            }
        }
        return out;
    }
};

Heard detect(const std::vector<int16_t> &signal, int chunk = 160) {
    Heard heard;
    DtmfDetector detector([&](char key, bool down) {
        heard.events += key;
        heard.events += down ? '+' : '-';
        if (down ? heard.down != 0 : heard.down != key) {
            heard.consistent = false;
        }
        heard.down = down ? key : 0;
    });
    for (size_t at = 0; at < signal.size(); at += static_cast<size_t>(chunk)) {
        int n = static_cast<int>(std::min(signal.size() - at, static_cast<size_t>(chunk)));
        detector.feed(signal.data() + at, n);
    }
    return heard;
}

std::vector<int16_t> one_press(char key, int ms, double low_dbm0, double high_db = 0.0) {
    std::vector<int16_t> s;
    append_silence(s, 50);
    append_key(s, key, ms, low_dbm0, high_db);
    append_silence(s, 100);
    return s;
}

TEST(DtmfDetector, EveryKeyOnceAtMinus10AndMinus25Dbm0) {
    for (double level : {-10.0, -25.0}) {
        for (char key : kAllKeys) {
            Heard heard = detect(one_press(key, 100, level));
            EXPECT_EQ(heard.events, std::string{key} + "+" + key + "-")
                << "key " << key << " at " << level << " dBm0";
        }
    }
}

// At the edges of what ITU-T Q.24 asks a receiver to accept (high group 4 dB above the low one,
// or 8 dB below it), over every alignment of the tone with the detector's 102-sample blocks.
// spandsp 0.0.6 misses key 0 (941 + 1336 Hz) at exactly -8 dB in about 1 alignment in 20, and
// once in a while sees it twice; every other key is found once at every alignment.
TEST(DtmfDetector, EveryKeyAtTheTwistLimits) {
    struct Twist {
        double low_dbm0, high_db;
    };
    for (Twist twist : {Twist{-14, +4}, Twist{-29, +4}, Twist{-10, -8}, Twist{-22, -8}}) {
        for (char key : kAllKeys) {
            int once = 0, tries = 0;
            for (int offset = 0; offset < 102; offset += 3, ++tries) {
                std::vector<int16_t> s(static_cast<size_t>(offset), 0);
                append_key(s, key, 100, twist.low_dbm0, twist.high_db);
                append_silence(s, 100);
                once += detect(s).keys() == std::string{key};
            }
            int allowed_misses = key == '0' && twist.high_db < 0 ? tries / 10 : 0;
            EXPECT_GE(once, tries - allowed_misses)
                << "key " << key << ", low group " << twist.low_dbm0 << " dBm0, high group "
                << twist.high_db << " dB: found once in " << once << " of " << tries;
        }
    }
}

TEST(DtmfDetector, TooWeakOrTooTwistedIsNotAKey) {
    // Well outside what Q.24 asks a receiver to accept.
    EXPECT_EQ(detect(one_press('5', 100, -50)).keys(), "");
    EXPECT_EQ(detect(one_press('5', 100, -10, -16)).keys(), "");
    EXPECT_EQ(detect(one_press('5', 100, -22, +12)).keys(), "");
}

TEST(DtmfDetector, DurationRules) {
    EXPECT_EQ(detect(one_press('7', 20, -10)).keys(), "") << "a 20 ms blip is not a key";
    EXPECT_EQ(detect(one_press('7', 45, -10)).keys(), "7") << "45 ms is a key";

    std::vector<int16_t> two;
    append_key(two, '9', 100, -10);
    append_silence(two, 100);
    append_key(two, '9', 100, -10);
    append_silence(two, 100);
    EXPECT_EQ(detect(two).keys(), "99") << "tone, silence, tone of one key is two presses";

    Heard long_press = detect(one_press('#', 3000, -10));
    EXPECT_EQ(long_press.events, "#+#-") << "a 3 s press is one key";

    std::vector<int16_t> run;
    for (char key : kAllKeys) {
        append_key(run, key, 60, -10);
        append_silence(run, 60);
    }
    Heard all = detect(run);
    EXPECT_EQ(all.keys(), kAllKeys) << "ten keys a second, back to back";
    EXPECT_TRUE(all.consistent) << all.events;
}

TEST(DtmfDetector, BlockSizeDoesNotMatter) {
    std::vector<int16_t> s;
    for (char key : std::string("147*")) {
        append_key(s, key, 80, -20);
        append_silence(s, 80);
    }
    for (int chunk : {1, 7, 80, 333, 4000, static_cast<int>(s.size())}) {
        EXPECT_EQ(detect(s, chunk).keys(), "147*") << "blocks of " << chunk;
    }
}

TEST(DtmfDetector, NothingInSilenceOrWhiteNoise) {
    std::vector<int16_t> silence;
    append_silence(silence, 10000);
    EXPECT_EQ(detect(silence).events, "");
    for (unsigned seed = 1; seed <= 3; ++seed) {
        for (double dbm0 : {-10.0, -30.0}) {
            EXPECT_EQ(detect(test::white_noise(10000, dbm0, seed)).events, "")
                << "white noise at " << dbm0 << " dBm0, seed " << seed;
        }
    }
}

TEST(DtmfDetector, ToneIsPresentWhileTheKeyIsDown) {
    std::vector<int16_t> s;
    append_key(s, '3', 200, -10);
    std::vector<int16_t> quiet;
    append_silence(quiet, 100);

    bool present_in_callback = false;
    DtmfDetector detector([&](char, bool down) {
        if (down) {
            present_in_callback = true;
        }
    });
    EXPECT_FALSE(detector.tone_present());
    detector.feed(s.data(), static_cast<int>(s.size()));
    EXPECT_TRUE(present_in_callback);
    EXPECT_TRUE(detector.tone_present());
    EXPECT_EQ(detector.key_down(), '3');
    detector.feed(quiet.data(), static_cast<int>(quiet.size()));
    EXPECT_FALSE(detector.tone_present());
    EXPECT_EQ(detector.key_down(), 0);
}

TEST(DtmfDetector, ASuspectedToneComesBeforeTheKey) {
    for (int offset = 0; offset < 102; offset += 17) {
        std::vector<int16_t> s(static_cast<size_t>(offset), 0);
        append_silence(s, 50);
        append_key(s, '8', 24, -20);  // the onset only
        DtmfDetector detector(nullptr);
        detector.feed(s.data(), static_cast<int>(s.size()));
        EXPECT_TRUE(detector.tone_suspected()) << "24 ms into the tone, offset " << offset;

        s.clear();
        append_key(s, '8', 76, -20);
        append_silence(s, 40);
        detector.feed(s.data(), static_cast<int>(s.size()));
        EXPECT_FALSE(detector.tone_present());
        EXPECT_FALSE(detector.tone_suspected()) << "40 ms after the tone";
    }
    std::vector<int16_t> quiet;
    append_silence(quiet, 200);
    DtmfDetector detector(nullptr);
    detector.feed(quiet.data(), static_cast<int>(quiet.size()));
    EXPECT_FALSE(detector.tone_suspected());
}

TEST(DtmfDetector, BadArgumentsAreHarmless) {
    DtmfDetector detector(nullptr);
    detector.feed(nullptr, 160);
    int16_t one = 0;
    detector.feed(&one, 0);
    detector.feed(&one, -5);
    std::vector<int16_t> s = one_press('1', 100, -10);
    detector.feed(s.data(), static_cast<int>(s.size()));  // no callback: must not crash
    EXPECT_FALSE(detector.tone_present());
}

}  // namespace
}  // namespace sipline::dsp
