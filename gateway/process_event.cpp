#include "gateway/process_event.h"

#include <cstdio>
#include <cstring>

#include "board/board.h"
#include "gateway/call_internal.h"
#include "gateway/globals.h"
#include "gateway/line_identity.h"

namespace sipline {
namespace {

struct state_row {
    int32_t state;
    const char *label;  // null: the state prints none
    int (*handle)(const call_event_t &e);
};

int not_handled(const call_event_t &) {
    return Unhandled();
}

// ST_CONNECTING has no row of its own: the machine passes through it inside ST_TXDIAL's
// handling, and an event that finds it there (after a failed play or record start) changes
// nothing.
constexpr state_row kStates[] = {
    {ST_WTRING, "ST_WTRING\n", LineRings},
    {ST_RXOFFHK, "ST_RXOFFHK\n", LineOffHook},
    {ST_RXGETDTMFS, "ST_RXGETDTMFS\n", LineDigits},
    {ST_TXOFFHK, "TX_OFFHK in\n", SipLineOffHook},
    {ST_TXDIAL, "ST_TXDIAL\n", Dialled},
    {ST_CONNECTING, nullptr, not_handled},
    {ST_CLEANUP, "ST_CLEANUP\n", CallEnds},
    {ST_IODONE, "ST_IODONE\n", StoppedIoReported},
    {ST_SIPINV, "SIPINV\n", SipInviteAccepted},
    {ST_SIPCLEANUP, "ST_SIPCLEANUP\n", SipSetupFailed},
    {ST_LINECALLING, "ST_LINECALLING\n", LineCalling},
    {ST_LINERINGING, "ST_LINERINGING\n", LineRinging},
    {ST_LINEANSWERED, "ST_LINEANSWERED\n", LineAnswered},
    {ST_LINEREFUSED, "ST_LINEREFUSED\n", LineRefused},
    {ST_LINEHANGUP, "ST_LINEHANGUP\n", LineHungUpWaiting},
};

channel_t *channel_of(int32_t device) {
    for (int32_t i = LINE_CHANNEL; i <= RECORD_CHANNEL; i += 2) {
        if (Channels[i].device == device) {
            return &Channels[i];
        }
    }
    return nullptr;
}

}  // namespace

int ProcessEvent(int32_t device, int32_t type, void *data) {
    call_event_t e{device, type, 0, channel_of(device)};
    if (data != nullptr) {
        std::memcpy(&e.code, data, sizeof e.code);
    }
    std::printf("ProcessEvent entered: State:%d, evttype: %d, %s\n", device, type,
                srl_last_error_text(device));
    int32_t state = CallState.load();
    // A SIP call took the line while it rang: the caller-ID listener lets go of it.
    if (state != ST_WTRING) {
        LineIdentityStop();
    }
    for (const state_row &row : kStates) {
        if (row.state == state) {
            if (row.label != nullptr) {
                std::printf("%s", row.label);
            }
            return row.handle(e);
        }
    }
    return Unhandled();
}

}  // namespace sipline
