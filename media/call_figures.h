// The running figures of the call's media, for those who watch the gateway (its status, call
// records and metrics): what went each way, what was lost and concealed, the arrival jitter.
// Reset when a call's session is set up; kept after its end until the next one.
#pragma once

#include <cstdint>

#include "dsp/jitter_buffer.h"

namespace sipline {

struct media_figures_t {
    int64_t sent = 0;          // RTP packets the gateway sent to the caller
    int64_t received = 0;      // distinct packets from the caller
    int64_t lost = 0;          // the caller's packets that never came
    int64_t concealed = 0;     // 20-ms frames filled in for missing audio
    double jitter_ms = 0;      // interarrival jitter of the caller's audio (RFC 3550 A.8)
    int32_t delay_ms = 0;      // what the jitter buffer adds now
    int64_t remote_lost = -1;  // cumulative lost of the gateway's stream in the caller's last
                               // report block about it; -1 before any report
};

// Main thread, when a call's media session is set up.
void MediaFiguresReset();
// InTh: an audio packet of the RTP timestamp `ts` (8 kHz) arrived at arrival_us, and the jitter
// buffer's figures since.
void MediaFiguresArrival(uint32_t ts, int64_t arrival_us);
void MediaFiguresPlayout(const dsp::JitterStats &stats);
// OutTh: packets sent.
void MediaFiguresSent(int32_t packets);
// InTh: the caller's RTCP report block about the gateway's stream.
void MediaFiguresRemoteLost(uint32_t cumulative_lost);
// Any thread.
media_figures_t MediaFigures();

}  // namespace sipline
