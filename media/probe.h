// Measuring points on the audio path, for the bench: unset (the normal case) they cost one
// atomic load per packet.
#pragma once

#include <atomic>
#include <cstdint>

namespace sipline {

struct media_probe_t {
    // InTh: a datagram's readiness seen -> its audio committed to the play stream (seconds),
    // with the number of blocks that packet completed.
    void (*in_path)(double seconds, int32_t blocks);
    // OutTh: a recorded block taken -> its packets handed to the network, with their number.
    void (*out_path)(double seconds, int32_t packets);
    // Each of InTh, OutTh and RTPScheduleProc as it ends: the CPU time the thread used.
    void (*thread_cpu)(const char *thread, double seconds);
};

// The calling thread's CPU time so far, in seconds.
double media_thread_cpu();
// Hands the calling thread's CPU time to the probe, if one is set.
void media_probe_thread_end(const char *thread);

// Set before the audio threads are resumed; read by them.
extern std::atomic<const media_probe_t *> MediaProbe;

}  // namespace sipline
