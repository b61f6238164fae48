// Supervision of the line during a call: a disconnect tone or a long silence from the line says
// that the line's party has hung up where the exchange keeps the loop up.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/tone_cadence.h"

namespace sipline {

struct line_supervision_t {
    std::vector<dsp::ToneCadence> tones;  // empty: no disconnect tone is listened for
    int32_t silence_seconds = 0;          // 0: silence never ends a call
};

// Set by the main thread at start-up, before any audio thread starts; read by the audio
// threads of every call after.
void LineSupervisionConfigure(const line_supervision_t &settings);

// One call's supervision, fed with what the line says (linear, 8 kHz) by the line's audio
// thread; it says so once when the line's party has gone.
class LineSupervisor {
  public:
    LineSupervisor();
    ~LineSupervisor();
    LineSupervisor(const LineSupervisor &) = delete;
    LineSupervisor &operator=(const LineSupervisor &) = delete;

    // True once, on the frame where the disconnect tone or the silence was recognised.
    bool feed(const int16_t *samples, int32_t count);
    // What was recognised: "disconnect tone" or "silence"; empty before.
    const char *reason() const { return reason_; }

  private:
    std::unique_ptr<dsp::DisconnectToneDetector> tone_;
    std::unique_ptr<dsp::SilenceDetector> silence_;
    const char *reason_ = "";
};

}  // namespace sipline
