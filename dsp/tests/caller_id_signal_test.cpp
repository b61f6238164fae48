#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dsp/caller_id.h"
#include "dsp/tests/signal.h"

namespace sipline::dsp {
namespace {

CallerId ada() {
    CallerId id;
    id.date = "12091530";
    id.number = "5551234";
    id.name = "Ada Lovelace";
    return id;
}

std::vector<int16_t> send(CallerIdStandard standard, const CallerId &id, bool bad = false) {
    CallerIdSender sender(standard);
    EXPECT_TRUE(sender.start(id, bad));
    std::vector<int16_t> out;
    test::append_silence(out, 100);
    int16_t block[160];
    for (int guard = 0; sender.sending() && guard < 1000; ++guard) {
        sender.generate(block, 160);
        out.insert(out.end(), block, block + 160);
    }
    EXPECT_FALSE(sender.sending());
    test::append_silence(out, 200);
    return out;
}

double rms_dbm0(const std::vector<int16_t> &s, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        sum += static_cast<double>(s[i]) * s[i];
    }
    double rms = std::sqrt(sum / static_cast<double>(to - from));
    return 20 * std::log10(rms * std::sqrt(2.0) / 32767.0) + 3.14;
}

// Scales the signal (its first 1000 samples after the lead-in carry it) to `dbm0`.
std::vector<int16_t> at_level(std::vector<int16_t> s, double dbm0) {
    const double now = rms_dbm0(s, 800, 1800);
    const double gain = std::pow(10.0, (dbm0 - now) / 20.0);
    for (auto &v : s) {
        v = static_cast<int16_t>(std::clamp(std::lround(v * gain), -32768L, 32767L));
    }
    return s;
}

void add(std::vector<int16_t> &s, const std::vector<int16_t> &noise) {
    for (size_t i = 0; i < s.size() && i < noise.size(); ++i) {
        s[i] = static_cast<int16_t>(std::clamp(s[i] + noise[i], -32768, 32767));
    }
}

CallerIdReceiver receive(CallerIdStandard standard, const std::vector<int16_t> &s,
                         int chunk = 160) {
    CallerIdReceiver rx(standard);
    for (size_t at = 0; at < s.size(); at += static_cast<size_t>(chunk)) {
        rx.feed(s.data() + at, static_cast<int>(std::min<size_t>(chunk, s.size() - at)));
    }
    return rx;
}

const CallerIdStandard kAll[] = {CallerIdStandard::bell, CallerIdStandard::v23,
                                 CallerIdStandard::dtmf};
const char *name_of(CallerIdStandard s) {
    return s == CallerIdStandard::bell ? "bell" : s == CallerIdStandard::v23 ? "v23" : "dtmf";
}

TEST(CallerIdSignal, EachStandardCarriesTheIdentityFromMinus10ToMinus40Dbm0) {
    for (CallerIdStandard standard : kAll) {
        const std::vector<int16_t> sent = send(standard, ada());
        for (double level : {-10.0, -25.0, -40.0}) {
            CallerId id;
            ASSERT_TRUE(receive(standard, at_level(sent, level)).identity(&id))
                << name_of(standard) << " at " << level << " dBm0";
            EXPECT_EQ(id.number, "5551234") << name_of(standard);
            // DTMF caller ID carries the number alone.
            EXPECT_EQ(id.name, standard == CallerIdStandard::dtmf ? "" : "Ada Lovelace");
        }
    }
}

TEST(CallerIdSignal, SurvivesNoiseAt20DbSnrAndOddBlockSizes) {
    for (CallerIdStandard standard : kAll) {
        std::vector<int16_t> s = at_level(send(standard, ada()), -20.0);
        add(s, test::white_noise(static_cast<int>(s.size() / 8) + 1, -40.0, 7));
        CallerId id;
        ASSERT_TRUE(receive(standard, s, 37).identity(&id)) << name_of(standard);
        EXPECT_EQ(id.number, "5551234");
    }
}

TEST(CallerIdSignal, FitsBetweenTwoRings) {
    // GR-30: from 500 ms after the first ring to 200 ms before the second, of a 4 s pause.
    for (CallerIdStandard standard : kAll) {
        EXPECT_LT(CallerIdSender::duration_samples(standard, ada()), 3300 * 8) << name_of(standard);
        EXPECT_GE(CallerIdSender::duration_samples(standard, ada()),
                  static_cast<int>(send(standard, ada()).size()) - 300 * 8 - 400)
            << name_of(standard) << ": the estimate is short";
    }
}

TEST(CallerIdSignal, DamageNeverGivesAnIdentity) {
    for (CallerIdStandard standard : kAll) {
        EXPECT_FALSE(receive(standard, send(standard, ada(), true)).identity(nullptr))
            << name_of(standard) << ": bad checksum";
        std::vector<int16_t> cut = send(standard, ada());
        cut.resize(cut.size() * 2 / 3);
        EXPECT_FALSE(receive(standard, cut).identity(nullptr)) << name_of(standard) << ": cut";
        EXPECT_FALSE(receive(standard, test::white_noise(3000, -15.0, 3)).identity(nullptr))
            << name_of(standard) << ": noise";
    }
}

TEST(CallerIdSignal, OverlongAndUnprintableNamesAreRefusedWithAReason) {
    for (CallerIdStandard standard : {CallerIdStandard::bell, CallerIdStandard::v23}) {
        CallerId id = ada();
        id.name = std::string(200, 'N');
        CallerIdReceiver rx = receive(standard, send(standard, id));
        EXPECT_FALSE(rx.identity(nullptr));
        EXPECT_EQ(rx.refusal(), "number or name too long");
        id.name = "Ada\x01";
        rx = receive(standard, send(standard, id));
        EXPECT_FALSE(rx.identity(nullptr));
        EXPECT_EQ(rx.refusal(), "field breaks its rules");
    }
}

TEST(CallerIdSignal, WithheldNumberArrivesAsAMarker) {
    for (CallerIdStandard standard : kAll) {
        CallerId hidden;
        hidden.number_absence = CallerIdAbsence::withheld;
        CallerId id;
        ASSERT_TRUE(receive(standard, send(standard, hidden)).identity(&id)) << name_of(standard);
        EXPECT_TRUE(id.number.empty());
        EXPECT_EQ(id.number_absence, CallerIdAbsence::withheld);
    }
}

}  // namespace
}  // namespace sipline::dsp
