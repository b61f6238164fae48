// The gateway's one security decision on a new call's INVITE (and on a REGISTER, which password
// guessers use), made before the call state machine sees it: the source allow-list, digest
// authentication (RFC 3261 section 22, RFC 8760), the dial rules, and bans of sources that keep
// failing. Each refusal and ban is one line on standard error:
//   2026-12-09 18:40:01 sipline: security refused source=203.0.113.5 reason="..." user="..."
//   2026-12-09 18:40:01 sipline: security banned source=203.0.113.5 reason="..." user="..."
// which deploy/fail2ban/ reads.
#pragma once

#include <cstdint>

#include "config/settings.h"

namespace sipline {

struct request_t;
struct gateway_policy_t;
struct gateway_ban_t;

inline constexpr int32_t POLICY_ADMIT = 0;       // the INVITE goes on to the call
inline constexpr int32_t POLICY_CHALLENGED = 1;  // answered 401 with a challenge
inline constexpr int32_t POLICY_REFUSED = 2;     // answered 403
inline constexpr int32_t POLICY_DROPPED = 3;     // not answered: silent, or banned

// Seconds a nonce may be answered (a stale one is challenged again with stale=true), and the
// window in which ban_after failures ban a source.
inline constexpr double POLICY_NONCE_SECONDS = 60;
inline constexpr double POLICY_FAILURE_WINDOW = 60;
// Sources tracked for bans and nonces outstanding: the tables never grow beyond these.
inline constexpr size_t POLICY_TABLE_SIZE = 4096;

// The settings have been checked by the reader; null if a pattern or block fails all the same.
gateway_policy_t *PolicyCreate(const security_settings_t &settings);
void PolicyFree(gateway_policy_t *policy);
// Replaces the rules (allow, authentication, users, realm, dial rules, silent, ban limits) with
// these, checked by the reader; the bans in force and the challenges outstanding stay. 0, or -1
// and nothing changed. Any thread; a decision under way finishes on the rules it began with.
int32_t PolicyReload(gateway_policy_t *policy, const security_settings_t &settings);
// One of the POLICY_ values; the record stays with the caller. The dial rules apply to INVITEs.
// now: a monotonic clock in seconds. Any thread.
int32_t PolicyAdmitRequest(gateway_policy_t *policy, request_t *r, double now);
// Fills up to `room` bans in force at `now`; their number. Any thread.
int32_t PolicyBans(gateway_policy_t *policy, double now, gateway_ban_t *bans, int32_t room);
// True while the source (host byte order) is banned. Any thread.
bool PolicyIgnores(gateway_policy_t *policy, uint32_t source, double now);

}  // namespace sipline
