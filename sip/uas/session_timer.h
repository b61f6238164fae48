// Session timers (RFC 4028): what an INVITE or UPDATE asks for (Session-Expires, Min-SE,
// Supported: timer), the gateway's answer to it, and who refreshes.
#pragma once

#include <cstdint>

#include "sip/message/parser.h"
#include "sip/message/headers.h"

namespace sipline {

// The shortest interval the gateway takes (RFC 4028 section 5 recommends 90 s), and the most
// (a day: a longer one is held to this).
inline constexpr int32_t SESSION_MIN_SE = 90;
inline constexpr int32_t SESSION_EXPIRES_MOST = 86400;

struct session_timer_t {
    int32_t interval;      // seconds; 0: no session timer
    int32_t uas_refreshes;  // 1: the gateway (the answerer) refreshes
    int32_t uac_supports;   // the request's Supported names "timer"
};

// Reads the request's Session-Expires and Min-SE. 0 with *timer (interval 0 when the request
// asks for none); 422 when it asks for less than SESSION_MIN_SE (RFC 4028 section 8.1). The
// refresher is the request's choice; without one, the caller refreshes when it supports timers
// and the gateway otherwise (section 9).
int SessionTimerRead(const parser_t *message, session_timer_t *timer);
// The answer's lines: "Session-Expires: N;refresher=uac|uas", and "Require: timer" when the
// caller supports timers (section 9).
void SessionTimerAnswerHeaders(const session_timer_t &timer, header_list_t *headers);

}  // namespace sipline
