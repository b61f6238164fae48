// A line echo canceller (speexdsp's MDF with its residual echo suppressor) over linear 16-bit
// samples at 8 kHz: what the line returns of what was played to it is taken out of what is
// recorded. It works in 20-ms frames of 160 samples.
#pragma once

#include <cstdint>
#include <memory>

namespace sipline::dsp {

class EchoCanceller {
  public:
    static constexpr int kDefaultTailMs = 64;
    static constexpr int kMostTailMs = 128;

    // tail_ms: the longest echo path covered (1..kMostTailMs, else kDefaultTailMs). nlp: the
    // non-linear processor that takes out the residual echo; comfort_noise: what the NLP puts
    // in its place, noise at the line's background level rather than dead silence.
    explicit EchoCanceller(int tail_ms = kDefaultTailMs, bool nlp = true,
                           bool comfort_noise = true);
    ~EchoCanceller();
    EchoCanceller(EchoCanceller &&) noexcept;
    EchoCanceller &operator=(EchoCanceller &&) noexcept;
    EchoCanceller(const EchoCanceller &) = delete;
    EchoCanceller &operator=(const EchoCanceller &) = delete;

    // played[i] went to the line at the instant recorded[i] was taken; recorded is replaced by
    // the line's own signal. n is a multiple of 160; a rest is left as it is.
    void process(const int16_t *played, int16_t *recorded, int n);
    // While frozen the canceller neither learns nor cancels (recorded passes untouched), as
    // when the reference is one or two steady tones (it learns nothing from them): for
    // signals it must not fit itself to, such as the DTMF tones the gateway plays, narrowband
    // and able to pull the filter away from the line's impulse response. What is recorded
    // meanwhile carries their echo: the caller keeps it off the wire.
    void freeze(bool frozen);
    bool frozen() const;
    int tail_ms() const;
    // How often the filter was found to gain more than a line's hybrid can (it had fitted the
    // line party's signal rather than the echo) and started afresh.
    int64_t resets() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace sipline::dsp
