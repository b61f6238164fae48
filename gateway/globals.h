// The gateway's process-wide call variables (besides the flags it shares with the media
// bridge, in media/bridge_state.h).
#pragma once

#include <atomic>
#include <cstdint>

#include "host/host.h"
#include "media/bridge_state.h"
#include "sip/uas/gateway.h"

namespace sipline {

struct request_t;

// Written by the SIP side's threads and the main thread; each writer posts a board event
// afterwards, and the main thread reads it when it takes that event.
extern std::atomic<int32_t> CallState;
extern std::atomic<uint8_t> HangupSignalled;
// The INVITE of the call in progress. Replaced by the main thread between calls; read by the
// SIP side's request threads.
extern std::atomic<request_t *> CurrentRequest;
// The body of the gateway's 200: the offer built at start-up, or a directory entry's test
// body while a call from the line that found it lasts. Main thread only after start-up.
extern const char *SdpOffer;
// The answer to the caller's offer for the 200 of the call in progress; empty when its INVITE
// had none. Written by the SIP side's request threads like DialString.
extern char SdpAnswer[SDP_BODY_SIZE];

// The number to dial, written by the SIP side's request threads (or by the state machine for a
// call from the line) before the event that makes the main thread read it. The media
// destination is with the media bridge's variables.
extern char DialString[DIAL_STRING_SIZE];

// Channel 1's device handle, for the threads that post board events to it. Written by the
// main thread whenever the channel is opened.
extern std::atomic<int32_t> LineDevice;
// Posts a board event of `type`, with no data, to channel 1; from any thread.
int PostLineEvent(int32_t type);

// Filled at start-up before the SIP side starts; read-only afterwards.
inline constexpr int HOST_NAME_SIZE = 255;
inline constexpr int HOST_SHORT_NAME_SIZE = 64;
inline constexpr int HOST_ADDRESS_SIZE = 25;  // up to 24 characters and the NUL
extern char HostName[HOST_NAME_SIZE];
extern char HostShortName[HOST_SHORT_NAME_SIZE];
extern char HostAddress[HOST_ADDRESS_SIZE];
// The address the gateway announces: [sip] external_address, else HostAddress. Start-up only.
extern char AdvertisedAddress[HOST_ADDRESS_SIZE];
// [rtp] codecs as the offer/answer code takes them; none (count 0): its built-in choice.
extern int8_t GatewayCodecs[SDP_CODEC_COUNT];
extern int32_t GatewayCodecCount;

// The long-lived threads and the audio pair of the current cycle, side by side so that one
// wait can name both. Main thread only, except that the exit handler reads ScheduleThread once
// StartUpDone is set.
extern HANDLE ScheduleThread;
extern HANDLE ReceiveThread;
extern HANDLE AudioThreads[2];  // InTh, OutTh

}  // namespace sipline
