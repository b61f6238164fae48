#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <algorithm>
#include <array>
#include <vector>

#include "dsp/echo.h"
#include "dsp/echo_response_internal.h"
#include "dsp/narrowband_internal.h"

// speexdsp's MDF canceller rather than spandsp's echo_can: the spandsp 0.0.6 of Debian prints a
// line of debugging text to standard output for every few samples it cancels ("echo is 0",
// "Narrowband score", "Rotate to"), and in double talk it silenced the near party altogether.
// MDF adapts its step to what it hears, so double talk slows its learning instead of spoiling
// the filter; its residual echo suppressor (speex_preprocess) is the non-linear processor.
//
// MDF normalises its step in each frequency bin by the reference's power there, so a bin
// where the reference is nearly empty learns with a huge step: with a steady tone as
// reference, its mu-law quantisation puts faint harmonics at multiples of the tone's repeat
// rate (600 Hz repeats every 40 samples: 200, 400 ... 1400 Hz), and MDF learnt a gain of
// +40 dB at 1400 Hz to "cancel" the line party's 1400 Hz tone with one of them, cutting it and
// leaking the reference into what the caller hears. So the filter does not learn while the
// reference is narrowband (those frames pass as they are), and its response is checked each
// frame against what a hybrid can do: a filter that gains more is reset.

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
// A reference whose frame a fourth-order predictor foretells this well is one or two steady
// tones: 25-35 dB for tones and DTMF through mu-law, 0-15 dB for speech and noise (at most
// 25 dB in one frame of 450 of espeak-ng's voice).
constexpr double NARROWBAND_DB = 22;
// A hybrid returns at most what it is played, at every frequency (an ERL of 6 dB or more is
// usual). A filter gaining 12 dB somewhere has fitted the line party's own signal; a genuine
// path's filter stays below 0 dB, and a few dB over it while double talk starts a call.
constexpr double GAIN_MOST = 4.0;
// The response is checked every few frames (its FFT costs about a third of the canceller's
// time): steady tones, which bend it fastest, are kept from it before.
constexpr int CHECK_FRAMES = 4;
// speexdsp 1.2.1 (float build) hands out the response scaled by 32767 and by its FFT's
// window of two frames.
constexpr double RESPONSE_SCALE = 1.0 / (32767.0 * 2 * FRAME);

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
    std::vector<int32_t> response;  // the filter as learnt, read after each frame
    std::unique_ptr<ResponseGain> gain;
    int64_t resets = 0;
    int unchecked = 0;  // frames since the response was last checked

    // A frame the filter must not learn from, which passes as it is. MDF keeps the reference's
    // past frames for the tail: it is given silence, so that this frame's place in that past
    // is kept (skipped, the following frames would be matched against older ones) and nothing
    // is learnt (no reference, nothing to fit).
    void pass() {
        static const std::array<int16_t, FRAME> silence{};
        speex_echo_cancellation(echo.get(), silence.data(), silence.data(), out.data());
    }

    // After a frame: false, and the filter starts afresh, when it gains more than a hybrid can.
    bool plausible() {
        unchecked = 0;
        speex_echo_ctl(echo.get(), SPEEX_ECHO_GET_IMPULSE_RESPONSE, response.data());
        if (gain->largest(response.data(), RESPONSE_SCALE) <= GAIN_MOST) {
            return true;
        }
        speex_echo_state_reset(echo.get());
        ++resets;
        return false;
    }
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
    int taps = 0;
    speex_echo_ctl(state_->echo.get(), SPEEX_ECHO_GET_IMPULSE_RESPONSE_SIZE, &taps);
    state_->response.assign(static_cast<size_t>(taps), 0);
    state_->gain = std::make_unique<ResponseGain>(taps);
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
    if (s.echo == nullptr) {
        return;
    }
    for (int at = 0; at + FRAME <= n; at += FRAME) {
        if (s.frozen || prediction_gain_db(played + at, FRAME) >= NARROWBAND_DB) {
            s.pass();
            continue;
        }
        speex_echo_cancellation(s.echo.get(), recorded + at, played + at, s.out.data());
        if (++s.unchecked == CHECK_FRAMES && !s.plausible()) {
            continue;  // this frame's output was made with that filter: the line's passes as it is
        }
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

int64_t EchoCanceller::resets() const {
    return state_->resets;
}

}  // namespace sipline::dsp
