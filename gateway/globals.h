// The gateway's process-wide call variables (besides the flags it shares with the media
// bridge, in media/bridge_state.h).
#pragma once

#include <atomic>
#include <cstdint>

#include "host/host.h"
#include "media/bridge_state.h"

namespace sipline {

struct request_t;

// Call states (the call state machine's).
inline constexpr int32_t ST_WTRING = 1;

// Written by the SIP side's threads and the main thread; each writer posts a board event
// afterwards, and the main thread reads it when it takes that event.
extern std::atomic<int32_t> CallState;
extern std::atomic<uint8_t> HangupSignalled;
// The INVITE of the call in progress. Replaced by the main thread between calls; read by the
// SIP side's request threads.
extern std::atomic<request_t *> CurrentRequest;
// Built at start-up, read-only afterwards.
extern char *SdpOffer;
// Main thread only.
extern const char *LocalAddress;
extern uint16_t LocalPort;

inline constexpr uint16_t SIP_PORT = 5060;
inline constexpr uint16_t RTP_PORT = 10000;

// Filled at start-up before any other thread starts; read-only afterwards.
extern char HostName[255];
extern char HostShortName[64];
extern char HostAddress[25];

// The long-lived threads and the audio pair of the current cycle, side by side so that one
// wait can name both. Main thread only, except at exit.
extern HANDLE ScheduleThread;
extern HANDLE ReceiveThread;
extern HANDLE AudioThreads[2];  // InTh, OutTh

}  // namespace sipline
