// How the gateway reads a registrar's answers to its REGISTER (RFC 3261 section 10.2.4) and
// when it tries again: what a registrar says is outside input, so every number in it is
// checked before a timer is set from it.
#pragma once

#include <cstdint>

#include "sip/message/parser.h"

namespace sipline {

// The longest registration the gateway asks for or keeps, in seconds; a longer grant is cut to
// what was asked, a larger Min-Expires refused.
inline constexpr int32_t REGISTER_EXPIRES_MAX = 86400;
// A failed registration is tried again after 20 s, then twice as long each time, at most 10 min.
inline constexpr int32_t REGISTER_RETRY_FIRST = 20;
inline constexpr int32_t REGISTER_RETRY_MAX = 600;

// Seconds before the next attempt after `failures` failures in a row (from 1).
int32_t RegisterRetryDelay(int32_t failures);
// Seconds from a grant to its refresh: 90 % of it, at least 1.
int32_t RegisterRefreshDelay(int32_t granted);

// A delta-seconds value (RFC 3261 section 25.1: digits only): the number, saturated at
// INT32_MAX, or -1 for anything else.
int32_t RegisterDeltaSeconds(const char *text);

// The time a 2xx grants the Contact `contact` (a SIP URI; user, host and port compared): its
// "expires" parameter, else the Expires header, else `requested` when neither is there (*how
// says which: 'c', 'e' or 'n'). 0 when the registrar dropped the binding. A grant longer than
// `requested` is cut to it. -1 when a value is not delta-seconds.
int32_t RegisterGranted(const parser_t *response, const char *contact, int32_t requested,
                        char *how);

// The Min-Expires of a 423 when it is a usable larger time than `requested`: from requested + 1
// to REGISTER_EXPIRES_MAX; else -1 (missing, not a number, 0, no larger, or too large).
int32_t RegisterMinExpires(const parser_t *response, int32_t requested);

}  // namespace sipline
