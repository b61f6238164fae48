// The values of CallState, the call state machine's state (10 is not used).
#pragma once

#include <cstdint>

namespace sipline {

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

}  // namespace sipline
