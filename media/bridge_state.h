// The call flags and handles that the media bridge's threads share with the gateway's main
// thread. The gateway writes them; the audio and schedule threads read them at every round.
#pragma once

#include <atomic>
#include <cstdint>

#include "board/board.h"
#include "host/host.h"
#include "sip/sdp/media_description.h"
#include "sip/uas/gateway.h"

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

// The call's media destination: written by the SIP side's request threads (from the INVITE's
// SDP) or by the state machine (from the directory) before the event that makes the main thread
// call setup_connection, which reads them.
extern char RTPDestAddress[RTP_DEST_ADDRESS_SIZE];
extern std::atomic<uint16_t> RTPDestPort;
extern std::atomic<uint8_t> RTPDestTTL;
// What offer and answer agreed for the call's audio (codecs, payload types, telephone-event,
// direction). Written like the destination above, before the audio threads of the call are
// resumed, which read their copy when they start.
extern media_description_t CallMedia;
// What a call without offer and answer gets (a directory entry without a URI): GSM sent, PCMU
// and GSM received on their static payload types.
media_description_t MediaDescriptionBuiltIn();

// The local receive address (none: any) and port of the call. Main thread only.
extern const char *LocalAddress;
extern uint16_t LocalPort;

inline constexpr uint16_t RTP_PORT = 10000;

// The line's streams as the audio threads use them: channel 1's play stream (InTh fills it),
// channel 3's record stream and the event the board signals for each recorded block (OutTh
// drains it), and the bytes per block. Written by the main thread when it opens the channels,
// before it resumes the audio threads of a call; the resumption orders the two.
extern stream_t PlayStream;
extern stream_t RecordStream;
extern HANDLE RecordStreamEvent;
extern int32_t FWBuffersize;

}  // namespace sipline
