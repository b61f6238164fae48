// DTMF keys carried in SIP INFO bodies inside a call's dialog: "application/dtmf-relay"
// ("Signal=5" and "Duration=160", as Cisco and most PBXs send them) and "application/dtmf"
// (the key alone).
#pragma once

#include <cstdint>

namespace sipline {

// A key's play time when the body gives none, and the bounds a given one is held to: RFC 4733
// asks for at least 40 ms of tone, and a key is no reason to hold the line for minutes.
inline constexpr int32_t DTMF_INFO_DEFAULT_MS = 250;
inline constexpr int32_t DTMF_INFO_SHORTEST_MS = 40;
inline constexpr int32_t DTMF_INFO_LONGEST_MS = 5000;

// The status to answer the INFO with: 200 with *key (0-9 * # A-D) and *duration_ms, or with
// *key = 0 for an INFO without body (a keep-alive); 415 for another content type; 400 for a
// body that names no key.
int DtmfInfoRead(const char *content_type, const char *body, char *key, int32_t *duration_ms);

}  // namespace sipline
