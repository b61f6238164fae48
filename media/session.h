// The RTP session of a call: made by setup_connection from the media destination and the local
// receive address (media/bridge_state.h), used by the audio and schedule threads, ended by
// CloseMediaSession.
#pragma once

#include <atomic>
#include <cstdint>

namespace sipline {

// The session of the call. 0 outside a call; but 0 is also the first context number the RTP
// engine hands out, so whether a session is open is told by MediaSessionOpen, not by this.
// Written by the main thread (setup_connection, CloseMediaSession) and by InTh
// (CloseMediaSession on an RTCP BYE) with RtpMutex held; read by the audio and schedule threads.
extern std::atomic<int32_t> RtpContext;

// True from a successful setup_connection until CloseMediaSession.
bool MediaSessionOpen();

// 0 when the session is open, -1 otherwise. Main thread, before the audio threads are resumed.
int setup_connection();
// Closes and destroys the session (the reason travels in the RTCP BYE); returns 0. Called with
// RtpMutex held. Does nothing when no session is open.
int CloseMediaSession(const char *reason);

// The engine's send-failure callback: prints "Send error: %d, %s, %d, %d" and returns.
void SendErrorHandler(int32_t context, const char *address, int32_t port, int32_t ttl);

}  // namespace sipline
