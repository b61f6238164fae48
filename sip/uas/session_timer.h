// Session timers (RFC 4028): what an INVITE or UPDATE asks for (Session-Expires, Min-SE,
// Supported: timer), the gateway's answer to it, and who refreshes.
#pragma once

#include <cstdint>

#include "sip/message/headers.h"
#include "sip/message/parser.h"

namespace sipline {

// The shortest interval the gateway takes (RFC 4028 section 5 recommends 90 s), and the most
// (a day: a longer one is held to this).
inline constexpr int32_t SESSION_MIN_SE = 90;
inline constexpr int32_t SESSION_EXPIRES_MOST = 86400;
// What the gateway's own INVITE asks for (RFC 4028 section 4 recommends 30 minutes).
inline constexpr int32_t SESSION_EXPIRES_ASKED = 1800;

struct session_timer_t {
    int32_t interval;       // seconds; 0: no session timer
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
// Reads the Session-Expires of a 2xx to a request the gateway sent (RFC 4028 section 7.2): 0
// with *timer, interval 0 when it names none (the session then has no timer) and uas_refreshes 1
// when it says refresher=uas (the far end); a refresher left out makes the gateway, the sender,
// refresh. -1 with interval 0 when the value is no number. Below SESSION_MIN_SE (the Min-SE the
// gateway's requests carry) it is raised to it; above SESSION_EXPIRES_MOST held to it.
int SessionTimerReadAnswer(const parser_t *answer, session_timer_t *timer);
// The Min-SE of a 422 in seconds (RFC 4028 section 7.4); -1 when it has none or no number;
// INT32_MAX for anything larger.
int32_t SessionTimerMinSe(const parser_t *answer);

}  // namespace sipline
