// The gateway as those who watch it see it (its status, call records, metrics): the call in
// progress and the line, the bans in force, and the hooks through which it tells of each call's
// end and of the SIP traffic and security decisions. A watcher registers its hooks once, before
// StartUp; the gateway fills the ones left null with hooks that do nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "config/settings.h"
#include "media/call_figures.h"

namespace sipline {

inline constexpr int CALL_TEXT_SIZE = 128;

// Directions of a call: a SIP caller rings the line, or the line's party calls a SIP URI.
inline constexpr const char *CALL_SIP_TO_LINE = "sip-to-line";
inline constexpr const char *CALL_LINE_TO_SIP = "line-to-sip";
// Who ended a call.
inline constexpr const char *CALL_SIDE_SIP = "sip";
inline constexpr const char *CALL_SIDE_LINE = "line";
inline constexpr const char *CALL_SIDE_GATEWAY = "gateway";

struct call_report_t {
    int64_t start_ms = 0;   // Unix time; 0 for no call
    int64_t answer_ms = 0;  // 0: not answered
    int64_t end_ms = 0;     // 0: going on
    char direction[16] = "";
    char caller[CALL_TEXT_SIZE] = "";  // "user@host" of a SIP caller; "line" for the line's party
    char number[CALL_TEXT_SIZE] = "";  // dialled on the line, or dialled by the line's party
    char codec[8] = "";                // what the gateway sends; "" before the media are agreed
    char end_reason[32] = "";          // "bye", "hangup", "cancel", "refused 486", "shutdown", ...
    char end_side[8] = "";             // CALL_SIDE_*
    media_figures_t media;
};

struct gateway_watch_t {
    // The record of a call that has ended; from the main thread, from the one that ends the
    // process (GatewayCallInProgressEnded), or from a request thread for a call refused before
    // it reached the line.
    void (*CallEnded)(void *context, const call_report_t *call);
    // A SIP request arrived, an answer went out; from the SIP side's threads.
    void (*SipRequest)(void *context, const char *method);
    void (*SipAnswer)(void *context, const char *method, int32_t status);
    // The security policy refused a request (authentication: its credentials failed) or banned a
    // source; from the SIP side's threads. A new call it refuses ends at once (CallEnded, its
    // end_reason "refused ...").
    void (*SecurityFailure)(void *context, bool authentication);
    void (*SourceBanned)(void *context);
    // A reload was applied: the settings now in force (those waiting for a restart stay as they
    // were). From the main thread; what cannot be applied is reported to `err` and the old kept.
    void (*Reloaded)(void *context, const gateway_settings_t *settings, FILE *err);
    void *context;
};

// Before StartUp, and before any thread the watcher starts calls the functions below.
void GatewayWatchRegister(const gateway_watch_t *watch);
const gateway_watch_t *GatewayWatch();

// The call in progress (false when there is none); any thread.
bool GatewayCurrentCall(call_report_t *call);
// The registration's state in a word ("not configured", "registering", "registered", "failed",
// "unregistered", a static text) and a line of detail ("" when there is none); any thread.
void GatewayRegistration(const char **state, char *detail, size_t size);
// The line's state in a word: "idle", "ringing", "dialling", "connected", "ending"; any thread.
const char *GatewayLineState();

// A source banned by the security policy, and the seconds its ban still lasts.
struct gateway_ban_t {
    uint32_t source;  // IPv4, host byte order
    double seconds_left;
};
// Fills up to `room` bans in force; their number. Any thread (0 before start-up has ended).
int32_t GatewayBans(gateway_ban_t *bans, int32_t room);

// The process is ending from outside: the call in progress, if any, ends with `reason` on the
// gateway's side and its record goes to CallEnded. Once; from the thread that ends the process.
void GatewayCallInProgressEnded(const char *reason);

}  // namespace sipline
