// The record of the call in hand and the watchers' door (gateway/watch.h).
#include "gateway/call_report.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "gateway/globals.h"
#include "gateway/watch.h"

namespace sipline {
namespace {

void no_call_ended(void *, const call_report_t *) {}
void no_request(void *, const char *) {}
void no_answer(void *, const char *, int32_t) {}
void no_failure(void *, bool) {}
void no_ban(void *) {}
void no_reload(void *, const gateway_settings_t *, FILE *) {}

// Written once by GatewayWatchRegister before the threads that call it start; read-only after.
gateway_watch_t watch{no_call_ended, no_request, no_answer, no_failure, no_ban, no_reload, nullptr};

// The call in hand: written by the main thread, read by the watchers' threads and closed by the
// thread that ends the process, all under report_mutex.
std::mutex report_mutex;
call_report_t current;
bool call_open = false;

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

template <size_t N>
void copy(char (&to)[N], const char *from) {
    std::snprintf(to, N, "%s", from);
}

// Ends the open call under the lock; true and *ended filled when there was one.
bool close_open_call(call_report_t *ended) {
    std::lock_guard lock(report_mutex);
    if (!call_open) {
        return false;
    }
    call_open = false;
    current.end_ms = now_ms();
    if (current.end_side[0] == '\0') {
        copy(current.end_reason, "ended");
        copy(current.end_side, CALL_SIDE_GATEWAY);
    }
    current.media = MediaFigures();
    *ended = current;
    return true;
}

}  // namespace

void GatewayWatchRegister(const gateway_watch_t *given) {
    gateway_watch_t w = *given;
    w.CallEnded = w.CallEnded != nullptr ? w.CallEnded : no_call_ended;
    w.SipRequest = w.SipRequest != nullptr ? w.SipRequest : no_request;
    w.SipAnswer = w.SipAnswer != nullptr ? w.SipAnswer : no_answer;
    w.SecurityFailure = w.SecurityFailure != nullptr ? w.SecurityFailure : no_failure;
    w.SourceBanned = w.SourceBanned != nullptr ? w.SourceBanned : no_ban;
    w.Reloaded = w.Reloaded != nullptr ? w.Reloaded : no_reload;
    watch = w;
}

const gateway_watch_t *GatewayWatch() {
    return &watch;
}

void CallReportOpen(const char *direction) {
    std::lock_guard lock(report_mutex);
    current = call_report_t{};
    current.start_ms = now_ms();
    copy(current.direction, direction);
    call_open = true;
}

void CallReportParty(const char *caller, const char *number) {
    std::lock_guard lock(report_mutex);
    if (caller != nullptr) {
        copy(current.caller, caller);
    }
    if (number != nullptr) {
        copy(current.number, number);
    }
}

void CallReportAnswered(const char *codec) {
    std::lock_guard lock(report_mutex);
    if (call_open && current.answer_ms == 0) {
        current.answer_ms = now_ms();
    }
    if (codec != nullptr) {
        copy(current.codec, codec);
    }
}

void CallReportEnding(const char *reason, const char *side) {
    std::lock_guard lock(report_mutex);
    if (call_open && current.end_side[0] == '\0') {
        copy(current.end_reason, reason);
        copy(current.end_side, side);
    }
}

void CallReportClose() {
    call_report_t ended;
    if (close_open_call(&ended)) {
        watch.CallEnded(watch.context, &ended);
    }
}

void CallReportRefused(const char *caller, const char *number, const char *reason) {
    call_report_t refused;
    refused.start_ms = refused.end_ms = now_ms();
    copy(refused.direction, CALL_SIP_TO_LINE);
    copy(refused.caller, caller);
    copy(refused.number, number);
    copy(refused.end_reason, reason);
    copy(refused.end_side, CALL_SIDE_GATEWAY);
    watch.CallEnded(watch.context, &refused);
}

void GatewayCallInProgressEnded(const char *reason) {
    CallReportEnding(reason, CALL_SIDE_GATEWAY);
    CallReportClose();
}

bool GatewayCurrentCall(call_report_t *call) {
    std::lock_guard lock(report_mutex);
    if (!call_open) {
        return false;
    }
    *call = current;
    call->media = MediaFigures();
    return true;
}

const char *GatewayLineState() {
    switch (CallState.load()) {
        case ST_WTRING:
            return "idle";
        case ST_RXOFFHK:
        case ST_RXGETDTMFS:
            return "taking a number";
        case ST_SIPINV:
        case ST_TXOFFHK:
        case ST_TXDIAL:
            return "dialling";
        case ST_CONNECTING:
            return "answering";
        case ST_CLEANUP:
        case ST_LINEANSWERED:
            return "connected";
        case ST_LINECALLING:
            return "calling";
        case ST_LINERINGING:
            return "ringing";
        case ST_LINEREFUSED:
            return "busy tone";
        default:
            return "ending";
    }
}

}  // namespace sipline
