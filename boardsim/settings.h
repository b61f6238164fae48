// The simulated board's settings, taken from its environment (BOARDSIM_*).
#pragma once

#include <cstdint>
#include <string>

#include "dsp/echo_path.h"

namespace sipline::boardsim {

inline constexpr int32_t DEFAULT_BLOCK = 160;
inline constexpr int32_t MAX_BLOCK = 768;  // the gateway's block of silence is this long

struct Settings {
    std::string say;      // WAV the far party says, looped; empty: the built-in test signal
    std::string capture;  // WAV that receives what the far party hears; empty: none
    int32_t block = DEFAULT_BLOCK;
    bool block_read_fails = false;
    double hangup_after = -1;  // seconds; negative: never
    std::string control = "boardsim.sock";
    bool echo = false;  // BOARDSIM_ECHO="16ms,10dB": the line returns an echo of what it plays
    dsp::EchoPathSettings echo_path;
};

// Reads the environment. A value that cannot be used is reported on standard error and the
// default kept.
Settings read_settings();

// The parsers behind read_settings, for one value each; false when the text is unusable.
bool parse_block(const char *text, int32_t *block, bool *fails);
bool parse_seconds(const char *text, double *seconds);

}  // namespace sipline::boardsim
