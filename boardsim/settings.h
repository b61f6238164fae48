// The simulated board's settings, taken from its environment (BOARDSIM_*).
#pragma once

#include <cstdint>
#include <string>

#include "dsp/caller_id.h"
#include "dsp/echo_path.h"
#include "dsp/tone_cadence.h"

namespace sipline::boardsim {

inline constexpr int32_t DEFAULT_BLOCK = 160;
inline constexpr int32_t MAX_BLOCK = 768;  // the gateway's block of silence is this long

enum class Disconnect { loop, tone, silence };

struct Settings {
    std::string say;      // WAV the far party says, looped; empty: the built-in test signal
    std::string capture;  // WAV that receives what the far party hears; empty: none
    int32_t block = DEFAULT_BLOCK;
    bool block_read_fails = false;
    double hangup_after = -1;  // seconds; negative: never
    std::string control = "boardsim.sock";
    bool echo = false;  // BOARDSIM_ECHO="16ms,10dB": the line returns an echo of what it plays
    dsp::EchoPathSettings echo_path;
    // BOARDSIM_CID=bell|v23|dtmf: how the exchange sends a ring's identity; unset: it sends none.
    bool cid = false;
    dsp::CallerIdStandard cid_standard = dsp::CallerIdStandard::bell;
    // BOARDSIM_RING="ON/OFF" in ms: the ring cadence.
    int32_t ring_on_ms = 2000;
    int32_t ring_off_ms = 4000;
    // BOARDSIM_DISCONNECT=loop|tone|tone:CADENCE|silence: what the line does when the far party
    // hangs up during a call: drop the loop, play the exchange's disconnect tone, or go quiet.
    Disconnect disconnect = Disconnect::loop;
    dsp::ToneCadence disconnect_tone{425, 0, 500, 500};
};

// Reads the environment. A value that cannot be used is reported on standard error and the
// default kept.
Settings read_settings();

// The parsers behind read_settings, for one value each; false when the text is unusable.
bool parse_block(const char *text, int32_t *block, bool *fails);
bool parse_seconds(const char *text, double *seconds);
bool parse_cid(const char *text, dsp::CallerIdStandard *standard);
bool parse_ring(const char *text, int32_t *on_ms, int32_t *off_ms);
bool parse_disconnect(const char *text, Disconnect *mode, dsp::ToneCadence *tone);

}  // namespace sipline::boardsim
