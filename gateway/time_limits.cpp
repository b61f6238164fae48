#include <chrono>
#include <cstdio>

#include "gateway/call_internal.h"
#include "gateway/globals.h"
#include "gateway/line_identity.h"
#include "gateway/process_event.h"
#include "gateway/session_refresh.h"

namespace sipline {
namespace {

using clock_type = std::chrono::steady_clock;

struct state_limit {
    int32_t state;
    int32_t limit_ms;
};

// A hook change takes the board tens of milliseconds, dialling 31 digits under four seconds;
// a caller on the line gets 20 seconds to dial.
// A callee that answers nothing is given up by timer B (32 s) on the SIP side; one that rings
// gets two minutes; a busy tone plays for three seconds; a CANCEL has 32 s for its 487.
constexpr state_limit kLimits[] = {
    {ST_RXOFFHK, 5000},       {ST_RXGETDTMFS, 20000}, {ST_TXOFFHK, 5000},
    {ST_TXDIAL, 10000},       {ST_IODONE, 5000},      {ST_LINECALLING, 40000},
    {ST_LINERINGING, 120000}, {ST_LINEREFUSED, 3000}, {ST_LINEHANGUP, 40000},
    {ST_LINEANSWERED, 5000},
};

// The state the main loop last waited in and since when. Main thread only.
int32_t watched_state = 0;
clock_type::time_point watched_since;

}  // namespace

int32_t EventTimeLimitMs() {
    int32_t state = CallState.load();
    // Every state is noted, also those with limits of their own below: a call that passes
    // through them and comes back to the state last watched must find its limit started anew,
    // not run down by the call before.
    clock_type::time_point now = clock_type::now();
    if (state != watched_state) {
        watched_state = state;
        watched_since = now;
    }
    if (state == ST_CLEANUP) {
        return SessionTimerWaitMs();  // a connected call waits only for its session timer
    }
    if (state == ST_WTRING) {
        return LineIdentityWaitMs();  // rings counted for caller ID stop when the caller gives up
    }
    for (const state_limit &limit : kLimits) {
        if (limit.state == state) {
            auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(now - watched_since);
            return spent.count() >= limit.limit_ms
                       ? 0
                       : limit.limit_ms - static_cast<int32_t>(spent.count());
        }
    }
    return -1;
}

void ProcessTimeLimit() {
    int32_t state = CallState.load();
    if (state == ST_CLEANUP) {
        SessionTimerDue();
        return;
    }
    if (state == ST_WTRING) {
        LineIdentityRingingEnded();
        return;
    }
    std::fprintf(stderr, "No event in time in state %d\n", state);
    watched_state = 0;
    switch (state) {
        case ST_RXGETDTMFS:
            // The collection's list ends it only on "#": the caller has gone or given up.
            dx_stop_io(Channels[LINE_CHANNEL].device, 0);
            [[fallthrough]];
        case ST_RXOFFHK:
            CallState = ST_WTRING;
            PutLineOnHook();
            break;
        case ST_TXOFFHK:
        case ST_TXDIAL:
            StopMedia("Local: objects closed\n");
            if (SipCallAccepted() && !CallProgress.answered) {
                AnswerInviteFinally(480);
            }
            EndCallCycle("Line did not answer\n");
            break;
        case ST_IODONE:
            EndCallCycle("IODONE fininshed\n");
            break;
        case ST_LINECALLING:
        case ST_LINERINGING:
            // Nobody answers: the call is cancelled as if the line's party had hung up.
            LineCallGivenUp();
            break;
        case ST_LINEREFUSED:
            LineRefusalHeard();
            break;
        case ST_LINEHANGUP:
        case ST_LINEANSWERED:
            StopMedia("Local: objects closed\n");
            StopLineIo();
            EndCallCycle("Line call given up\n");
            break;
        default:
            break;
    }
}

}  // namespace sipline
