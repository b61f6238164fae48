// Result codes of the RTP engine and their texts. Every engine call returns 0 or one of these;
// the text of the last failure, with the name of the call that failed, is kept per thread.
#pragma once

#include <cstdint>

namespace sipline {

using rtperror = int32_t;

inline constexpr rtperror RTP_OK = 0;
inline constexpr rtperror RTP_BAD_VALUE = 0x3000002;
inline constexpr rtperror RTP_CANT_ALLOC_MEM = 0x3000004;
inline constexpr rtperror RTP_INSUFFICIENT_BUFFER = 0x3000008;
inline constexpr rtperror RTP_MAXCONTEXTS_EXCEEDED = 0x3000101;
inline constexpr rtperror RTP_UNKNOWN_CONTEXT = 0x3000102;
inline constexpr rtperror RTP_SOCKET_NOT_OPEN = 0x3000103;
inline constexpr rtperror RTP_CANT_GET_SOCKET = 0x3000104;
inline constexpr rtperror RTP_CANT_BIND_SOCKET = 0x3000105;
inline constexpr rtperror RTP_CANT_SET_SOCKOPT = 0x3000106;
inline constexpr rtperror RTP_SOCKET_WRITE_FAILURE = 0x3000107;
inline constexpr rtperror RTP_SOCKET_READ_FAILURE = 0x3000108;
inline constexpr rtperror RTP_SOCKET_MISMATCH = 0x3000109;
inline constexpr rtperror RTP_FIXED_WHEN_OPEN = 0x300010a;
inline constexpr rtperror RTP_BAD_ADDR = 0x300010b;
inline constexpr rtperror RTP_BAD_PORT = 0x300010c;
inline constexpr rtperror RTP_CANT_CLOSE_SESSION = 0x300010e;
inline constexpr rtperror RTP_BAD_MI = 0x300010f;
inline constexpr rtperror RTP_BAD_PROFILE = 0x3000110;
inline constexpr rtperror RTP_SOCKET_EMPTY = 0x3000111;
inline constexpr rtperror RTP_PACKET_LOOPBACK = 0x3000112;
inline constexpr rtperror RTP_CSRC_LIST_NOT_SET = 0x3000113;
inline constexpr rtperror RTP_CSRC_APPEARS_TWICE = 0x3000114;
inline constexpr rtperror RTP_BAD_PACKET_FORMAT = 0x3000115;
inline constexpr rtperror RTP_NO_SUCH_PERSON = 0x3000116;
inline constexpr rtperror RTP_PERSON_DATA_PROTECTED = 0x3000117;
inline constexpr rtperror RTP_NO_SUCH_SENDER = 0x3000118;
inline constexpr rtperror RTP_NO_SUCH_SDES = 0x3000119;
inline constexpr rtperror RTP_CANT_USE_ENCRYPTION = 0x300011a;
inline constexpr rtperror RTP_DECRYPTION_FAILURE = 0x300011b;
inline constexpr rtperror RTP_END_OF_LIST = 0x300011c;
inline constexpr rtperror RTP_CANT_CALL_FUNCTION = 0x300011d;
inline constexpr rtperror RTP_SSRC_IN_USE = 0x300011e;
inline constexpr rtperror RTP_CANT_GETSOCKNAME = 0x300011f;
inline constexpr rtperror RTP_NO_SUCH_CONTRIBUTOR = 0x3000120;
inline constexpr rtperror RTP_CSRC_LIST_FULL = 0x3000121;
inline constexpr rtperror RTP_DONT_SEND_NOW = 0x3000122;
// Returned without a report when a BYE may not be sent yet; it has no text of its own.
inline constexpr rtperror RTP_BYE_NOT_SENT = 0x3000123;

// The text of a result code; "Unknown RTP Error %d" for any other value (kept per thread).
const char *RTPStrError(rtperror code);
// "Call from <operation>(): <message>\n" of the calling thread's last failure, followed by
// the C library's text for the system error of that moment when the failure came from the
// system (sockets, memory).
const char *RTPLastErrorText();

}  // namespace sipline
