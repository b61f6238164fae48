// A call from the line to a SIP callee: the INVITE to the directory entry's URI, run on a thread
// of its own as the INVITE client transaction (RFC 3261 section 17.1.1), and the states of the
// main thread that follow its answers: ringback, the media once answered, a busy tone once
// refused, and the CANCEL when the line's party hangs up first.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gateway/call_internal.h"
#include "gateway/call_report.h"
#include "gateway/directory.h"
#include "gateway/globals.h"
#include "gateway/line_identity.h"
#include "gateway/line_tones.h"
#include "gateway/sdp_offer.h"
#include "gateway/session_refresh.h"
#include "gateway/watch.h"
#include "media/session.h"
#include "sip/uas/access_log.h"
#include "sip/uas/call_lock.h"
#include "sip/uas/gateway.h"
#include "sip/uas/invite_client.h"
#include "sip/uas/outgoing.h"
#include "sip/uas/request.h"
#include "sip/uas/transport.h"

namespace sipline {
namespace {

using clock_type = std::chrono::steady_clock;
using seconds = std::chrono::duration<double>;

clock_type::duration span(double s) {
    return std::chrono::duration_cast<clock_type::duration>(seconds(s));
}

// The user part of the gateway's From and Contact in the calls it makes.
constexpr const char *LINE_USER = "sipline";
constexpr uint32_t WAIT_SLICE_MS = 20;

// Whether the callee's 2xx agreed a codec. Written by the call's SIP thread before it moves
// CallState to ST_LINEANSWERED and posts the event; read by the main thread after it.
std::atomic<bool> AnswerUsable{false};

// Between the main thread and the call's SIP thread. The main thread writes line_gone and
// finish, then wakes the thread; the thread reads them every slice of its wait. The thread
// writes final_status, then moves CallState and posts EV_CALL_PROGRESS; the main thread reads it
// after the event (and after seeing the new CallState).
std::atomic<bool> line_gone{false};
std::atomic<bool> finish{false};
std::atomic<int32_t> final_status{0};
// The SIP thread of the call in hand, and the record it works on. Main thread only.
HANDLE sip_thread = nullptr;
request_t *sip_record = nullptr;
// Whether the busy tone has started in ST_LINEREFUSED. Main thread only.
bool busy_started = false;

// Moves CallState from a waiting state to `to`, unless the main thread has moved it elsewhere
// (the line's party hung up), and wakes the main thread either way.
void report(int32_t to, bool from_ringing) {
    int32_t state = CallState.load();
    while ((state == ST_LINECALLING || (from_ringing && state == ST_LINERINGING)) &&
           !CallState.compare_exchange_weak(state, to)) {
    }
    PostLineEvent(EV_CALL_PROGRESS);
}

bool is_invite_answer(const sip_response_t *response) {
    sip_cseq_t cseq = SIP_CSeq(&response->message);
    return std::strcmp(cseq.method, "INVITE") == 0;
}

bool is_cancel_answer(const sip_response_t *response) {
    sip_cseq_t cseq = SIP_CSeq(&response->message);
    return std::strcmp(cseq.method, "CANCEL") == 0 && response->message.status >= 200;
}

class invite_client {
  public:
    explicit invite_client(request_t *r) : r_(r) {}
    void run();

  private:
    void take(const sip_response_t *response);
    void on_final(const sip_response_t *response);
    bool answer_challenge(const sip_response_t *response);
    bool answer_too_brief(const sip_response_t *response);
    void restart();
    void keep_time();

    request_t *r_;
    clock_type::time_point start_ = clock_type::now();
    double interval_ = SIP_T1;
    clock_type::time_point next_invite_ = start_ + span(SIP_T1);
    bool provisional_ = false;
    bool cancel_sent_ = false;
    bool cancel_answered_ = false;
    double cancel_interval_ = SIP_T1;
    clock_type::time_point next_cancel_{};
    clock_type::time_point cancel_at_{};
    bool final_ = false;
    clock_type::time_point final_at_{};
    std::string ack_;
    sockaddr_in ack_to_{};
    bool done_ = false;
    bool challenged_ = false;
    bool retimed_ = false;
};

void invite_client::run() {
    RequestSend(r_, 0, 0);
    while (!finish.load() && !done_) {
        sip_response_t *responses = RequestResponsesTake(r_, WAIT_SLICE_MS);
        for (sip_response_t *e = responses; e != nullptr; e = e->next) {
            take(e);
        }
        RequestResponsesFree(responses);
        keep_time();
    }
}

void invite_client::take(const sip_response_t *response) {
    if (is_cancel_answer(response)) {
        cancel_answered_ = true;
        return;
    }
    if (!is_invite_answer(response)) {
        return;
    }
    const int32_t status = response->message.status;
    if (status < 200) {
        // A provisional answer overtaken by the final one (each response has its own thread).
        if (!provisional_ && !final_) {
            provisional_ = true;
            std::printf("Provisional answer %d\n", status);
            report(ST_LINERINGING, false);
        }
        return;
    }
    if (final_) {
        // The final answer again: its ACK was lost (RFC 3261 sections 13.2.2.4, 17.1.1.2).
        RequestSendText(r_, &ack_to_, ack_.c_str());
        return;
    }
    on_final(response);
}

// RFC 3261 section 22.2: the first 401 or 407 is answered with the configured credentials; a
// second one ends the attempt as any refusal does (the busy tone).
bool invite_client::answer_challenge(const sip_response_t *response) {
    challenged_ = true;
    char *ack = RequestAckText(r_, &response->message);  // in the challenged transaction
    const sockaddr_in to = r_->via.address;
    const sip_gateway_t *gateway = SipGateway();
    bool answered = RequestInviteAuthorize(r_, &response->message, gateway->OutboundUser,
                                           gateway->OutboundPassword) == 0;
    if (answered) {
        RequestSendText(r_, &to, ack);
        std::printf("Answering the %d challenge as %s\n", response->message.status,
                    gateway->OutboundUser);
        restart();
    }
    std::free(ack);
    return answered;
}

// RFC 4028 section 7.4: the first 422 is answered with an INVITE asking for its Min-SE; a 422
// whose Min-SE the gateway cannot offer (none, no number, more than a day) with one that asks
// for no interval, leaving it to the callee. A second 422 ends the attempt as any refusal does.
bool invite_client::answer_too_brief(const sip_response_t *response) {
    retimed_ = true;
    char *ack = RequestAckText(r_, &response->message);
    const sockaddr_in to = r_->via.address;
    const int32_t asked = RequestInviteRetime(r_, &response->message);
    if (asked >= 0) {
        RequestSendText(r_, &to, ack);
        if (asked > 0) {
            std::printf("422: asking again for a session timer of %d s\n", asked);
        } else {
            std::printf(
                "422 without a Min-SE the gateway can ask for: asking again for no session "
                "timer\n");
        }
        restart();
    }
    std::free(ack);
    return asked >= 0;
}

void invite_client::restart() {
    RequestSend(r_, 0, 0);
    start_ = clock_type::now();
    interval_ = SIP_T1;
    next_invite_ = start_ + span(SIP_T1);
    provisional_ = false;
}

void invite_client::on_final(const sip_response_t *response) {
    const int32_t status = response->message.status;
    if ((status == 401 || status == 407) && !challenged_ && answer_challenge(response)) {
        return;
    }
    if (status == 422 && !retimed_ && answer_too_brief(response)) {
        return;
    }
    final_ = true;
    final_at_ = clock_type::now();
    std::printf("Final answer %d\n", status);
    if (status < 300) {
        AnswerUsable = TakeSdpAnswer(response->body);
        RequestInviteAnswered(r_, &response->message);
        // RFC 4028 section 7.2: the 2xx says the interval and who refreshes; without
        // Session-Expires (or with one that is no number) the session has no timer. Read by the
        // main thread after the event that report() posts.
        if (SessionTimerReadAnswer(&response->message, &r_->session) != 0) {
            std::printf("The answer's Session-Expires is no number: no session timer\n");
        }
    }
    char *ack = RequestAckText(r_, &response->message);
    ack_ = ack;
    std::free(ack);
    ack_to_ = r_->via.address;
    RequestSendText(r_, &ack_to_, ack_.c_str());
    final_status = status;
    report(status < 300 ? ST_LINEANSWERED : ST_LINEREFUSED, true);
}

void invite_client::keep_time() {
    const clock_type::time_point now = clock_type::now();
    if (final_) {
        // Retransmissions of the final answer are acknowledged for 64 * T1 (timer D, and the
        // 2xx's retransmission span), then the transaction is over.
        done_ = now - final_at_ >= seconds(SIP_TIMER_B);
        return;
    }
    if (!provisional_ && now - start_ >= seconds(SIP_TIMER_B)) {
        std::printf("Timer B: no answer from the callee\n");
        final_status = 408;
        report(ST_LINEREFUSED, false);
        done_ = true;
        return;
    }
    if (!provisional_ && now >= next_invite_) {
        // Timer A: 0.5, 1, 2, 4... seconds between transmissions until an answer comes.
        RequestSend(r_, 0, 0);
        interval_ *= 2;
        next_invite_ += span(interval_);
    }
    // RFC 3261 section 9.1: a CANCEL only once a provisional answer has come.
    if (line_gone.load() && provisional_ && !cancel_answered_ &&
        (!cancel_sent_ || now >= next_cancel_)) {
        char *cancel = RequestCancelText(r_);
        std::printf("Sending CANCEL\n");
        RequestSendText(r_, &r_->destination, cancel);
        std::free(cancel);
        if (!cancel_sent_) {
            cancel_at_ = now;
        }
        cancel_sent_ = true;
        next_cancel_ = now + span(cancel_interval_);
        cancel_interval_ = std::min(cancel_interval_ * 2, SIP_T2);
    }
    // Section 9.1: without a final answer 64 * T1 after the CANCEL, the transaction is given up.
    if (cancel_sent_ && now - cancel_at_ >= seconds(SIP_TIMER_B)) {
        std::printf("No final answer after the CANCEL\n");
        final_status = 408;
        report(ST_LINEREFUSED, true);
        done_ = true;
    }
}

uint32_t invite_client_thread(void *record) {
    invite_client client(static_cast<request_t *>(record));
    client.run();
    return 0;
}

bool line_io_ended(const call_event_t &e) {
    if (e.type != TDX_PLAY && e.type != TDX_RECORD) {
        return false;
    }
    if (e.channel != nullptr) {
        e.channel->io_done = 1;
    }
    return true;
}

// The far party may hang up before anything came back: every path ends in EndCallCycle.
void end_line_call(const char *message) {
    LineToneStop();
    StopLineIo();
    EndCallCycle(message);
}

// The line's party hung up before the answer: cancel, and wait for the SIP thread's word.
int line_party_gone() {
    LineToneStop();
    line_gone = true;
    int32_t state = CallState.load();
    while ((state == ST_LINECALLING || state == ST_LINERINGING) &&
           !CallState.compare_exchange_weak(state, ST_LINEHANGUP)) {
    }
    if (sip_record != nullptr) {
        RequestResponsesWake(sip_record);
    }
    if (state == ST_LINEANSWERED) {
        // The 2xx crossed the hang-up: the call is set up and ended at once.
        CallProgress.answered = true;
        SendBye();
        end_line_call("Local hangup finished\n");
    } else if (state == ST_LINEREFUSED) {
        end_line_call("Line call refused\n");
    } else {
        CallReportEnding("cancel", CALL_SIDE_LINE);
        std::printf("Line hung up: cancelling the call\n");
    }
    return 0;
}

int connect_line_call(const call_event_t &e) {
    LineToneStop();
    CallProgress.answered = true;
    if (!AnswerUsable) {
        // The callee answered with nothing the line's audio can travel in.
        SendBye();
        end_line_call("Line call without media\n");
        return 0;
    }
    if (setup_connection() == -1) {
        std::printf("Error setting up the connection\n");
        CallState = ST_CLEANUP;
        return CallEnds(call_event_t{e.device, EV_WAKEUP, 0, e.channel});
    }
    CallReportAnswered(SdpCodecName(CallMedia.send_codec));
    std::printf("Resuming InTh\n");
    ResumeThread(AudioThreads[0]);
    std::printf("Resuming OutTh\n");
    ResumeThread(AudioThreads[1]);
    CallProgress.audio_resumed = true;
    if (Channels[RECORD_CHANNEL].io_done != 1 && StartRecording(RECORD_CHANNEL) == -1) {
        std::fprintf(stderr, "DemoStartRecord failed\n");
        CallState = ST_CLEANUP;
        return CallEnds(call_event_t{e.device, EV_WAKEUP, 0, e.channel});
    }
    AdvanceCallState(ST_LINEANSWERED, ST_CLEANUP);
    std::printf("Line call connected\n");
    const request_t *r = CurrentRequest.load();
    SessionTimerArm(r->session.interval, r->session.uas_refreshes == 0);
    // The line's party hung up while the answer was on its way: the call ends as it would now.
    if (line_io_ended(e)) {
        return CallEnds(e);
    }
    return 0;
}

// The line's caller in the INVITE's From: the identity that arrived with the ring, or, when
// caller ID is on and none arrived whole, the anonymous From of RFC 3323 section 4.1.1.3.
void present_caller(request_t *r) {
    const line_caller_t &caller = LineCaller();
    if (!caller.listened) {
        return;
    }
    std::string note;
    if (caller.known &&
        RequestInviteSetCaller(r, caller.name.c_str(), caller.number.c_str(), false) == 0) {
        note = "line call from " + caller.number + " \"" + caller.name + "\" to " + DestinationUri;
    } else {
        RequestInviteSetCaller(r, nullptr, nullptr, true);
        note = "line call from anonymous (" + caller.why_absent + ") to " + DestinationUri;
    }
    std::printf("%s\n", note.c_str());
    LogNote(note.c_str());
}

}  // namespace

int CallOut(const call_event_t &) {
    request_t *r = RequestCreate(TRANSPORT_UDP, -1, nullptr);
    // Registered to a PBX, the line calls as the account it registered.
    const char *account = SipGateway()->ContactUser;
    const char *user = account != nullptr && account[0] != '\0' ? account : LINE_USER;
    const std::string offer = CurrentSdpOffer();
    if (RequestInviteCreate(r, DestinationUri, user, offer.c_str(), SipListeningSocket()) != 0 ||
        (DestinationProxy != nullptr && RequestInviteThrough(r, DestinationProxy) != 0)) {
        RequestFree(r);
        CallState = ST_WTRING;
        PutLineOnHook();
        ForgetDirectoryEntry();
        return 0;
    }
    present_caller(r);
    RequestRegister(r);
    // The session as the gateway offers it, for a re-INVITE of the callee without an offer and
    // for the gateway's own refresh; published with the record, under the same lock.
    {
        std::unique_lock lock = CallLock();
        std::snprintf(SdpAnswer, SDP_BODY_SIZE, "%s", offer.c_str());
    }
    RequestFree(CurrentRequestExchange(r));
    // Play runs from now on: the tones go through it, and its end reports the hang-up.
    if (StartPlaying(LINE_CHANNEL) == -1) {
        std::fprintf(stderr, "DemoStartPlay failed\n");
        EndCallCycle("Local hangup finished\n");
        return -1;
    }
    CallProgress.streams_started = true;
    line_gone = false;
    finish = false;
    final_status = 0;
    busy_started = false;
    CallState = ST_LINECALLING;
    std::printf("Calling %s\n", DestinationUri);
    sip_record = r;
    sip_thread = CreateThread(invite_client_thread, r, 0);
    return 0;
}

void LineSipCallEnd() {
    if (sip_thread == nullptr) {
        return;
    }
    finish = true;
    RequestResponsesWake(sip_record);
    WaitForSingleObject(sip_thread, INFINITE);
    CloseHandle(sip_thread);
    sip_thread = nullptr;
    sip_record = nullptr;
}

int LineCalling(const call_event_t &e) {
    if (line_io_ended(e)) {
        return line_party_gone();
    }
    // A progress event whose change another one has overtaken.
    return e.type == EV_CALL_PROGRESS ? 0 : Unhandled();
}

int LineRinging(const call_event_t &e) {
    if (line_io_ended(e)) {
        return line_party_gone();
    }
    if (e.type != EV_CALL_PROGRESS) {
        return Unhandled();
    }
    std::printf("Ringback\n");
    LineToneStart(line_tone_t::ringback);
    return 0;
}

int LineAnswered(const call_event_t &e) {
    return connect_line_call(e);
}

int LineRefused(const call_event_t &e) {
    if (line_io_ended(e)) {
        return LineRefusalHeard();
    }
    if (!busy_started) {
        busy_started = true;
        std::printf("Callee answered %d: busy tone\n", final_status.load());
        char reason[32];
        std::snprintf(reason, sizeof reason, "refused %d", final_status.load());
        CallReportEnding(reason, CALL_SIDE_SIP);
        LineToneStart(line_tone_t::busy);
    }
    return 0;
}

int LineCallGivenUp() {
    return line_party_gone();
}

int LineRefusalHeard() {
    end_line_call("Line call refused\n");
    return 0;
}

int LineHungUpWaiting(const call_event_t &e) {
    if (e.type != EV_CALL_PROGRESS || final_status.load() == 0) {
        return 0;
    }
    if (final_status.load() < 300) {
        CallProgress.answered = true;
        SendBye();
        end_line_call("Local hangup finished\n");
    } else {
        end_line_call("Line call cancelled\n");
    }
    return 0;
}

}  // namespace sipline
