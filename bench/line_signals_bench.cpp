// The line's own signals: caller ID decoded per standard at -10 to -40 dBm0, clean and with
// 20 dB SNR white noise; the disconnect tone's detection time; and false disconnect detections
// over the WAVs given (speech, music on hold), 8 kHz mono, with the US, ETSI and UK cadences on.
// Usage: line_signals_bench [WAV...]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "boardsim/wav.h"
#include "dsp/caller_id.h"
#include "dsp/g711.h"
#include "dsp/tests/signal.h"
#include "dsp/tone_cadence.h"

namespace {

using namespace sipline;

std::vector<int16_t> sent(dsp::CallerIdStandard standard) {
    dsp::CallerId id;
    id.date = "12091530";
    id.number = "5551234";
    id.name = "Ada Lovelace";
    dsp::CallerIdSender tx(standard);
    tx.start(id);
    std::vector<int16_t> out(800, 0);
    int16_t block[160];
    while (tx.sending()) {
        tx.generate(block, 160);
        out.insert(out.end(), block, block + 160);
    }
    out.insert(out.end(), 1600, 0);
    return out;
}

double level_of(const std::vector<int16_t> &s) {
    double sum = 0;
    for (size_t i = 800; i < 1800; ++i) {
        sum += static_cast<double>(s[i]) * s[i];
    }
    return 20 * std::log10(std::sqrt(sum / 1000) * std::sqrt(2.0) / 32767.0) + 3.14;
}

bool decodes(dsp::CallerIdStandard standard, const std::vector<int16_t> &clean, double dbm0,
             bool noisy, unsigned seed) {
    const double gain = std::pow(10.0, (dbm0 - level_of(clean)) / 20.0);
    std::vector<int16_t> s(clean.size());
    std::vector<int16_t> noise =
        noisy ? dsp::test::white_noise(static_cast<int>(clean.size() / 8) + 1, dbm0 - 20, seed)
              : std::vector<int16_t>(clean.size(), 0);
    for (size_t i = 0; i < s.size(); ++i) {
        s[i] = static_cast<int16_t>(
            std::clamp(std::lround(clean[i] * gain) + noise[i], -32768L, 32767L));
    }
    dsp::CallerIdReceiver rx(standard);
    rx.feed(s.data(), static_cast<int>(s.size()));
    dsp::CallerId id;
    return rx.identity(&id) && id.number == "5551234";
}

const std::vector<dsp::ToneCadence> kCadences{
    {480, 620, 500, 500}, {425, 0, 500, 500}, {400, 0, 375, 375}};

}  // namespace

int main(int argc, char **argv) {
    const char *names[] = {"bell", "v23", "dtmf"};
    const dsp::CallerIdStandard standards[] = {
        dsp::CallerIdStandard::bell, dsp::CallerIdStandard::v23, dsp::CallerIdStandard::dtmf};
    std::printf("caller ID decoded of 20 (clean / 20 dB SNR)\n%-6s", "dBm0");
    for (int level = -10; level >= -45; level -= 5) {
        std::printf(" %7d", level);
    }
    std::printf("\n");
    for (int k = 0; k < 3; ++k) {
        const std::vector<int16_t> clean = sent(standards[k]);
        std::printf("%-6s", names[k]);
        for (int level = -10; level >= -45; level -= 5) {
            int ok = 0, noisy_ok = 0;
            for (unsigned trial = 0; trial < 20; ++trial) {
                ok += decodes(standards[k], clean, level, false, trial) ? 1 : 0;
                noisy_ok += decodes(standards[k], clean, level, true, trial + 1) ? 1 : 0;
            }
            std::printf(" %3d/%-3d", ok, noisy_ok);
        }
        std::printf("\n");
    }

    std::printf("\ndisconnect tone detection time from the tone's start, ms\n");
    for (const dsp::ToneCadence &c : kCadences) {
        for (int level : {-10, -20, -30}) {
            dsp::CadenceTone tone;
            tone.start(c, level);
            dsp::DisconnectToneDetector detector(kCadences);
            int16_t block[160];
            int ms = -1;
            for (int at = 0; at < 8000 / 160 * 6 && ms < 0; ++at) {
                tone.generate(block, 160);
                detector.feed(block, 160);
                if (detector.detected()) {
                    ms = (at + 1) * 20;
                }
            }
            std::printf("  %4d%s%-4d Hz %d/%d ms at %d dBm0: %d\n", c.f1_hz, c.f2_hz ? "+" : " ",
                        c.f2_hz, c.on_ms, c.off_ms, level, ms);
        }
    }

    double minutes = 0;
    int false_detections = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<uint8_t> mulaw;
        if (std::string why = boardsim::wav_load(argv[i], &mulaw); !why.empty()) {
            std::fprintf(stderr, "%s: %s\n", argv[i], why.c_str());
            continue;
        }
        auto detector = std::make_unique<dsp::DisconnectToneDetector>(kCadences);
        std::vector<int16_t> block(160);
        for (size_t at = 0; at + 160 <= mulaw.size(); at += 160) {
            for (size_t j = 0; j < 160; ++j) {
                block[j] = dsp::ulaw_to_linear(mulaw[at + j]);
            }
            detector->feed(block.data(), 160);
            if (detector->detected()) {
                ++false_detections;
                std::printf("  false detection in %s at %.1f s\n", argv[i], at / 8000.0);
                detector = std::make_unique<dsp::DisconnectToneDetector>(kCadences);
            }
        }
        minutes += static_cast<double>(mulaw.size()) / 8000 / 60;
    }
    if (argc > 1) {
        std::printf("\nfalse disconnect detections: %d in %.1f minutes of the given audio\n",
                    false_detections, minutes);
    }
    return 0;
}
