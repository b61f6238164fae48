// The line's echo taken out of what is recorded before it is sent: a line echo canceller fed
// with what the board played at the instants of each recorded sample.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "dsp/dtmf.h"
#include "dsp/echo.h"
#include "media/codecs.h"
#include "media/record_framer.h"

namespace sipline {

// The canceller's settings: on by default.
struct line_echo_t {
    bool cancel = true;
    int32_t tail_ms = dsp::EchoCanceller::kDefaultTailMs;
};

// Set once at start-up, before the first call (the main thread); read by each call's OutTh.
void MediaSetLineEcho(const line_echo_t &settings);
line_echo_t MediaLineEcho();

// InTh: whether a DTMF key is being played on the line now. Written by InTh, read by OutTh;
// an atomic, as a late or early sight of it only moves the canceller's pause by a frame.
void MediaLineKeyPlaying(bool playing);

class line_echo {
  public:
    explicit line_echo(const line_echo_t &settings);
    // Says in the log, at the call's end, when the canceller had to start afresh.
    ~line_echo();
    line_echo(const line_echo &) = delete;
    line_echo &operator=(const line_echo &) = delete;

    // The reference of the next recorded samples (mu-law, as many as recorded); null when the
    // board keeps none: then nothing is cancelled.
    void played(const uint8_t *reference, int32_t count);
    // One recorded frame of FRAME_SAMPLES, in place; `heard` receives the frame as recorded,
    // for the line's key detector. While the gateway plays a key on the line (and the echo
    // path's length after), the canceller pauses and the frame, which carries the key's echo,
    // is silenced: the caller must not hear its own key back. `heard` is left whole, for a key
    // the line's party presses meanwhile.
    void cancel(int16_t *frame, int16_t *heard);
    // The key the gateway plays on the line now or did within the echo's time, or 0: a key the
    // detector hears that is this one is its echo.
    char echoed_key() const { return echoed_frames_ > 0 ? echoed_key_ : 0; }

  private:
    std::unique_ptr<dsp::EchoCanceller> canceller_;
    dsp::DtmfDetector reference_keys_;
    record_framer framer_;
    std::deque<std::array<int16_t, FRAME_SAMPLES>> frames_;
    int32_t paused_frames_ = 0;
    char echoed_key_ = 0;
    int32_t echoed_frames_ = 0;
};

}  // namespace sipline
