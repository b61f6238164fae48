// The call flags and handles that the media bridge's threads share with the gateway's main
// thread. The gateway writes them; the audio and schedule threads read them at every round.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/host.h"

namespace sipline {

// 1 while the event loop of the current call cycle runs. Written by the main thread (the call
// state machine clears it, InitGlobals sets it); read by the audio threads.
extern std::atomic<int32_t> CallLoopRunning;
// Ends the cycle of calls and the long-lived threads. Written only when the process is ended
// from outside; read by every long-lived thread.
extern std::atomic<int32_t> QuitRequested;
// The audio threads must stop. Written by the main thread and InTh. An audio thread that is
// resumed while it is 1 returns at once: that is how the gateway disposes of a pair of threads
// that no call started.
extern std::atomic<int32_t> MediaStop;

// Made once at start-up by the main thread before any thread that uses them starts.
extern HANDLE RtpMutex;         // serialises use of the RTP context
extern HANDLE shdwnhandle;      // pulsed at the end of a call
extern HANDLE RescheduleEvent;  // pulsed when an earlier RTP deadline is scheduled

}  // namespace sipline
