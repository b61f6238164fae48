// A two-wire line's echo for simulation and tests: what is played comes back after a delay,
// shaped by one of ITU-T G.168's echo path models (annex D, as spandsp ships them) and weakened
// by the echo return loss.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sipline::dsp {

struct EchoPathSettings {
    int delay_ms = 16;   // before the model's own response starts
    double erl_db = 10;  // power of the played signal over that of its echo (white noise)
};

// Reads "16ms,10dB" (units optional, delay 0..100 ms, loss 0..60 dB); false when unusable.
bool parse_echo_path(const std::string &text, EchoPathSettings *settings);

class EchoPath {
  public:
    explicit EchoPath(const EchoPathSettings &settings);
    // The echo of the next n played samples (linear, 8 kHz).
    void echo(const int16_t *played, int16_t *echo, int n);

  private:
    std::vector<float> response_;
    std::vector<float> history_;  // the latest played samples, a ring as long as the response
    size_t at_ = 0;
};

}  // namespace sipline::dsp
