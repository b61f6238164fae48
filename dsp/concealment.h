// Packet loss concealment (spandsp plc) over decoded linear 16-bit samples at 8 kHz, whatever
// the codec: a gap is filled by repeating the last pitch period of what was heard, fading to
// silence within kFadeMs, and the first audio after the gap is blended into the fill.
#pragma once

#include <cstdint>
#include <memory>

namespace sipline::dsp {

class Concealment {
  public:
    // spandsp fades the fill by 0.0025 per sample: silent after 400 samples (50 ms).
    static constexpr int kFadeMs = 60;

    Concealment();
    ~Concealment();
    Concealment(Concealment &&) noexcept;
    Concealment &operator=(Concealment &&) noexcept;
    Concealment(const Concealment &) = delete;
    Concealment &operator=(const Concealment &) = delete;

    // Audio that arrived: kept as history; right after a fill its start is blended (changed).
    void received(int16_t *samples, int n);
    // n samples in place of audio that is missing.
    void fill(int16_t *samples, int n);
    // Samples filled since audio was last received.
    int filling() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace sipline::dsp
