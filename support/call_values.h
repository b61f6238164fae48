// Values that the SIP side and the gateway application share: the states of the call and the
// board event types that the SIP side posts to wake the call state machine.
#pragma once

#include <cstdint>

namespace sipline {

// Values of CallState (10 is not used). The SIP side sets ST_SIPINV and ST_CLEANUP and tests
// for ST_WTRING; the gateway's state machine owns the rest.
inline constexpr int32_t ST_WTRING = 1;       // idle; waiting for a ring on the line
inline constexpr int32_t ST_RXOFFHK = 2;      // ring seen; waiting for the line to be off-hook
inline constexpr int32_t ST_RXGETDTMFS = 3;   // prompt played; collecting the digits dialled
inline constexpr int32_t ST_TXOFFHK = 4;      // SIP call accepted; waiting for off-hook
inline constexpr int32_t ST_TXDIAL = 5;       // dialling the line for a SIP call
inline constexpr int32_t ST_CONNECTING = 6;   // answering the SIP call, starting the media
inline constexpr int32_t ST_CLEANUP = 7;      // call connected; its end is handled here
inline constexpr int32_t ST_IODONE = 8;       // remote end; waiting for the stopped I/O
inline constexpr int32_t ST_SIPINV = 9;       // an INVITE was accepted; go off-hook
inline constexpr int32_t ST_SIPCLEANUP = 11;  // media set-up for a SIP call failed

// Board event types posted, with no data, to the channel that runs the call.
inline constexpr int32_t EV_WAKEUP = 0;  // posted after CallState was changed
inline constexpr int32_t EV_REMOTE_HANGUP = 0x1ff8;

}  // namespace sipline
