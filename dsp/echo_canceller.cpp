#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <algorithm>
#include <vector>

#include "dsp/echo.h"

// speexdsp's MDF canceller rather than spandsp's echo_can: the spandsp 0.0.6 of Debian prints a
// line of debugging text to standard output for every few samples it cancels ("echo is 0",
// "Narrowband score", "Rotate to"), and in double talk it silenced the near party altogether.
// MDF adapts its step to what it hears, so double talk slows its learning instead of spoiling
// the filter; its residual echo suppressor (speex_preprocess) is the non-linear processor.

namespace sipline::dsp {
namespace {

constexpr int SAMPLES_PER_MS = 8;
constexpr int RATE = 8000;
constexpr int FRAME = 160;  // 20 ms: the unit the filter works in
// The suppressor's attenuation of residual echo (dB), without and with the near party talking.
constexpr int SUPPRESS_DB = -40;
constexpr int SUPPRESS_ACTIVE_DB = -15;
// Comfort noise in place of what the suppressor took out: a sine's peak at -70 dBm0.
constexpr float COMFORT_LEVEL = 8.0f;

struct echo_free {
    void operator()(SpeexEchoState *s) const { speex_echo_state_destroy(s); }
};
struct preprocess_free {
    void operator()(SpeexPreprocessState *s) const { speex_preprocess_state_destroy(s); }
};

}  // namespace

struct EchoCanceller::State {
    std::unique_ptr<SpeexEchoState, echo_free> echo;
    std::unique_ptr<SpeexPreprocessState, preprocess_free> nlp;
    int tail_ms = 0;
    bool comfort = false;
    bool frozen = false;
    uint32_t noise = 1;  // comfort noise generator (xorshift)
    std::vector<int16_t> out = std::vector<int16_t>(FRAME);
};

EchoCanceller::EchoCanceller(int tail_ms, bool nlp, bool comfort_noise)
    : state_(std::make_unique<State>()) {
    if (tail_ms < 1 || tail_ms > kMostTailMs) {
        tail_ms = kDefaultTailMs;
    }
    state_->tail_ms = tail_ms;
    state_->echo.reset(speex_echo_state_init(FRAME, tail_ms * SAMPLES_PER_MS));
    int rate = RATE;
    speex_echo_ctl(state_->echo.get(), SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
    if (nlp) {
        state_->nlp.reset(speex_preprocess_state_init(FRAME, RATE));
        int off = 0;
        int suppress = SUPPRESS_DB;
        int active = SUPPRESS_ACTIVE_DB;
        // Echo suppression only: the line's noise and level are the line party's own.
        speex_preprocess_ctl(state_->nlp.get(), SPEEX_PREPROCESS_SET_DENOISE, &off);
        speex_preprocess_ctl(state_->nlp.get(), SPEEX_PREPROCESS_SET_AGC, &off);
        speex_preprocess_ctl(state_->nlp.get(), SPEEX_PREPROCESS_SET_DEREVERB, &off);
        speex_preprocess_ctl(state_->nlp.get(), SPEEX_PREPROCESS_SET_ECHO_SUPPRESS, &suppress);
        speex_preprocess_ctl(state_->nlp.get(), SPEEX_PREPROCESS_SET_ECHO_SUPPRESS_ACTIVE, &active);
        speex_preprocess_ctl(state_->nlp.get(), SPEEX_PREPROCESS_SET_ECHO_STATE,
                             state_->echo.get());
        state_->comfort = comfort_noise;
    }
}

EchoCanceller::~EchoCanceller() = default;
EchoCanceller::EchoCanceller(EchoCanceller &&) noexcept = default;
EchoCanceller &EchoCanceller::operator=(EchoCanceller &&) noexcept = default;

void EchoCanceller::process(const int16_t *played, int16_t *recorded, int n) {
    State &s = *state_;
    if (s.echo == nullptr || s.frozen) {
        return;
    }
    for (int at = 0; at + FRAME <= n; at += FRAME) {
        speex_echo_cancellation(s.echo.get(), recorded + at, played + at, s.out.data());
        if (s.nlp != nullptr) {
            speex_preprocess_run(s.nlp.get(), s.out.data());
        }
        for (int i = 0; i < FRAME; ++i) {
            int v = s.out[static_cast<size_t>(i)];
            if (s.comfort) {
                s.noise ^= s.noise << 13;
                s.noise ^= s.noise >> 17;
                s.noise ^= s.noise << 5;
                v += static_cast<int>((static_cast<float>(s.noise & 0xFFFF) / 32768.0f - 1.0f) *
                                      COMFORT_LEVEL);
            }
            recorded[at + i] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
        }
    }
}

void EchoCanceller::freeze(bool frozen) {
    state_->frozen = frozen;
}

bool EchoCanceller::frozen() const {
    return state_->frozen;
}

int EchoCanceller::tail_ms() const {
    return state_->tail_ms;
}

}  // namespace sipline::dsp
