// A call from the network onto the line: off-hook, dial the number of the INVITE, answer 200
// with the gateway's offer once dialling has ended, and start the media.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gateway/call_internal.h"
#include "gateway/call_report.h"
#include "gateway/globals.h"
#include "gateway/sdp_offer.h"
#include "gateway/session_refresh.h"
#include "gateway/watch.h"
#include "media/session.h"
#include "sip/uas/call_lock.h"
#include "sip/uas/request.h"
#include "sip/uas/response.h"

namespace sipline {
namespace {

// The caller's INVITE found no line to ring: a final answer, and the cycle ends.
int line_unavailable(const char *message) {
    CallReportEnding("line unavailable", CALL_SIDE_GATEWAY);
    AnswerInviteFinally(480);
    EndCallCycle(message);
    return 0;
}

// The ACK's answer sets the media; without one, or with one that agrees no codec, the call
// cannot carry audio and ends: BYE, line on-hook. A BYE or CANCEL taken meanwhile ends it its
// own way. False when the call ends.
bool answer_in_ack(request_t *r) {
    char *answer = nullptr;
    {
        std::unique_lock lock = CallLock();
        answer = r->ack_body != nullptr ? strdup(r->ack_body) : nullptr;
    }
    const bool usable = TakeSdpAnswer(answer);
    free(answer);
    if (usable || CallState != ST_CONNECTING) {
        return usable;
    }
    std::printf("No answer in the ACK: the call ends\n");
    CallReportEnding("no media agreed", CALL_SIDE_GATEWAY);
    SendBye();
    PutLineOnHook();
    EndCallCycle("No media agreed\n");
    return false;
}

// The caller's "user@host" from the INVITE's From.
void report_sip_call() {
    char caller[CALL_TEXT_SIZE] = "";
    {
        std::unique_lock lock = CallLock();
        const request_t *r = CurrentRequest.load();
        const char *user = r != nullptr ? r->from.uri.user : nullptr;
        const char *host = r != nullptr ? r->from.uri.host : nullptr;
        std::snprintf(caller, sizeof caller, "%s%s%s", user != nullptr ? user : "",
                      user != nullptr && host != nullptr ? "@" : "", host != nullptr ? host : "");
    }
    CallReportOpen(CALL_SIP_TO_LINE);
    CallReportParty(caller, DialString);
}

}  // namespace

int SipInviteAccepted(const call_event_t &e) {
    report_sip_call();
    if (dx_sethook(e.device, DX_OFFHOOK, EV_ASYNC) == -1) {
        ReportBoardError("ERROR: dx_sethook DX_OFFHOOK: 0x%x: %s\n", e.device);
        return line_unavailable("Line not taken off-hook\n");
    }
    std::printf("Set off-hook\n");
    AdvanceCallState(ST_SIPINV, ST_TXOFFHK);
    return 0;
}

int SipLineOffHook(const call_event_t &e) {
    if (e.type != EV_HOOK_DONE || e.code != 1) {
        return Unhandled();
    }
    int32_t line = Channels[LINE_CHANNEL].device;
    dx_reset_dial_parameters(&DialParams);
    std::printf("Making Outbound call to %s\n", DialString);
    if (dx_dial(line, DialString, &DialParams, EV_ASYNC) == -1) {
        ReportBoardError("ERROR dx_dial 0x%x: %s\n", line);
        PutLineOnHook();
        std::printf("TX_OFFHK out\n");
        return line_unavailable("Line not dialled\n");
    }
    AdvanceCallState(ST_TXOFFHK, ST_TXDIAL);
    std::printf("TX_OFFHK out\n");
    return 0;
}

int Dialled(const call_event_t &e) {
    if (e.type == EV_DIAL_DONE) {
        return ConnectSipCall();
    }
    if (e.type == EV_SETUP_DONE) {
        return StartLineCallMedia();
    }
    return Unhandled();
}

int ConnectSipCall() {
    // A CANCEL or BYE taken since this event was queued has moved the call on; its own event
    // follows and ends it.
    if (!AdvanceCallState(ST_TXDIAL, ST_CONNECTING)) {
        return 0;
    }
    std::printf("Sending 200 response\n");
    request_t *r = CurrentRequest.load();
    CallProgress.answered = true;
    // An INVITE without an offer gets the gateway's own, and the ACK carries the answer (RFC 3261
    // section 13.2.1).
    const bool offer_in_200 = SdpAnswer[0] == '\0';
    const std::string offer = offer_in_200 ? CurrentSdpOffer() : std::string();
    WaitForSingleObject(r->mutex, INFINITE);
    ResponseAnswer(r, 200, offer_in_200 ? offer.c_str() : SdpAnswer, "application/sdp", -1, 1, 0);
    ReleaseMutex(r->mutex);
    if (offer_in_200 && !answer_in_ack(r)) {
        return 0;
    }
    SessionTimerArm(r->session.interval, r->session.uas_refreshes != 0);

    if (setup_connection() == -1) {
        CallReportEnding("media set-up failed", CALL_SIDE_GATEWAY);
        std::printf("Error setting up the connection\n");
        ResponseAnswer(r, 404, nullptr, nullptr, 0, 0, 0);
        CallState = ST_SIPCLEANUP;
        std::printf("Setting event: setup_connection failed\n");
        srl_post_event(Channels[LINE_CHANNEL].device, EV_WAKEUP, 0, nullptr, 0);
        return 0;
    }
    CallReportAnswered(SdpCodecName(CallMedia.send_codec));
    std::printf("Resuming InTh\n");
    ResumeThread(AudioThreads[0]);
    std::printf("Resuming OutTh\n");
    ResumeThread(AudioThreads[1]);
    CallProgress.audio_resumed = true;
    if (StartPlaying(LINE_CHANNEL) == -1) {
        std::fprintf(stderr, "DemoStartPlay failed\n");
        return -1;
    }
    CallProgress.streams_started = true;
    if (StartRecording(RECORD_CHANNEL) == -1) {
        std::fprintf(stderr, "DemoStartRecord failed\n");
        return -1;
    }
    CallState = ST_CLEANUP;
    std::printf("Exiting ST_TXDIAL\n");
    return 0;
}

}  // namespace sipline
