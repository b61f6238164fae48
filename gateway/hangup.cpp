// The end of a call: the remote side's hang-up (SIP BYE, RTCP BYE) through ST_IODONE, the
// local one (the line's party hangs up, a CANCEL, a refused number), and the end after a
// failed media set-up.
#include <cstdio>
#include <cstring>
#include <string>

#include "gateway/call_internal.h"
#include "gateway/call_report.h"
#include "gateway/globals.h"
#include "gateway/sdp_offer.h"
#include "gateway/watch.h"
#include "sip/uas/bye_client.h"
#include "sip/uas/call_lock.h"
#include "sip/uas/outgoing.h"
#include "sip/uas/refresh_client.h"
#include "sip/uas/request.h"

namespace sipline {

void SendBye() {
    request_t *r = CurrentRequest.load();
    if (r->outgoing != 0) {
        // The caller's requests count on from its INVITE (RFC 3261 section 12.2.1.1); the
        // record leaves the open-request list first, so that no response thread reads the
        // number while it changes.
        LineSipCallEnd();
        RequestUnregister(r);
        r->cseq.number++;
    } else {
        // A call from the network: the BYE may take the INVITE's number unless a session
        // refresh of the gateway's has used it up; then it counts on (RFC 3261 section
        // 12.2.1.1), or the far end takes it for that refresh again.
        std::unique_lock lock = CallLock();
        if (r->remote_cseq_seen != 0) {
            r->cseq.number++;
        }
    }
    std::snprintf(r->cseq.method, sizeof r->cseq.method, "%s", "BYE");
    std::printf("Sending BYE\n");
    RequestDialogHeaders(r);
    r->acked = 0;
    RequestByeSend(r);
}

int SendSessionRefresh(int32_t interval, bool update_refused, uint32_t token, refresh_done_t done) {
    request_t *r = CurrentRequest.load();
    if (r->outgoing != 0) {
        // The INVITE's transaction is over (its 2xx is 64 * T1 old at the least); the record
        // leaves the open-request list before its number changes.
        LineSipCallEnd();
        RequestUnregister(r);
    }
    std::string sdp;
    {
        // The gateway's requests number on from the caller's INVITE; the caller's own go on
        // being told from retransmissions by the last number it used.
        std::unique_lock lock = CallLock();
        if (r->reoffer_pending != 0) {
            std::printf("Session refresh put off: an offer of the far end is under way\n");
            return -1;
        }
        if (r->remote_cseq_seen == 0 && r->outgoing == 0) {
            r->remote_cseq = r->cseq.number;
            r->remote_cseq_seen = 1;
        }
        r->cseq.number++;
        // The session as it stands (RFC 3264 section 8: unchanged, so its o= version too).
        sdp = SdpAnswer[0] != '\0' ? SdpAnswer : CurrentSdpOffer();
    }
    // RFC 4028 section 10: UPDATE when the far end allows it (its Allow), else re-INVITE.
    const bool invite = update_refused || !RefreshPeerAllowsUpdate(&r->message);
    std::printf("Session refresh by %s\n", invite ? "re-INVITE" : "UPDATE");
    const char *user = r->outgoing != 0 ? r->from.uri.user : r->to.uri.user;
    return RequestRefreshSend(r, invite, interval, sdp.c_str(), user, token, done);
}

namespace {

int remote_hangup() {
    CallReportEnding("bye", CALL_SIDE_SIP);
    std::printf("Closing remotely\n");
    StopMedia("Objects closed\n");
    StopLineIo();
    CallState = ST_IODONE;
    std::printf("Remote hangup going to IODONE\n");
    // Before the 200 no play or record runs whose stop could report: the INVITE the BYE
    // ended is answered here, and the call ends without waiting.
    if (!CallProgress.streams_started) {
        if (SipCallAccepted() && !CallProgress.answered) {
            AnswerInviteFinally(487);
        }
        EndCallCycle("IODONE fininshed\n");
    }
    return 0;
}

int local_hangup() {
    // The SIP side ends an INVITE it has not had its 200 for by CANCEL; the rest is the line.
    if (SipCallAccepted() && !CallProgress.answered) {
        CallReportEnding("cancel", CALL_SIDE_SIP);
    } else {
        CallReportEnding("hangup", CALL_SIDE_LINE);
    }
    std::printf("TONEOFF\n");
    StopMedia("Local: objects closed\n");
    StopLineIo();
    // A BYE only into an established dialog (RFC 3261 section 15); an INVITE cancelled before
    // its 200 is answered 487 (section 9.2); after a refused number nothing more is sent.
    if (SipCallAccepted()) {
        if (CallProgress.answered) {
            SendBye();
        } else {
            AnswerInviteFinally(487);
        }
    }
    EndCallCycle("Local hangup finished\n");
    return 0;
}

void report_stopped(const call_event_t &e, const char *name) {
    std::fprintf(stderr, "%s:2 %s Term mask = 0x%x\n", srl_device_name(e.device), name,
                 dx_termination_mask(e.device));
    if (e.channel != nullptr) {
        e.channel->io_done = 1;
    }
}

}  // namespace

int CallEnds(const call_event_t &e) {
    if (e.type == TDX_CST) {
        std::printf("TDX_CST, just exiting\n");
        return 0;
    }
    if (e.type == EV_REMOTE_HANGUP) {
        return remote_hangup();
    }
    // The SIP thread of a call from the line is done with the answers; the call goes on.
    if (e.type == EV_CALL_PROGRESS) {
        return 0;
    }
    return local_hangup();
}

int StoppedIoReported(const call_event_t &e) {
    // A wake-up posted for the connected call (its session timer's) changes nothing here.
    if (e.type == EV_CALL_PROGRESS) {
        return 0;
    }
    if (e.type == TDX_RECORD) {
        report_stopped(e, "TDX_RECORD");
    } else if (e.type == TDX_PLAY) {
        report_stopped(e, "TDX_PLAY");
    }
    EndCallCycle("IODONE fininshed\n");
    return 0;
}

int SipSetupFailed(const call_event_t &) {
    PutLineOnHook();
    // The 404 has gone; left here, the state would refuse every later INVITE with 503.
    EndCallCycle("SIP cleanup finished\n");
    return 0;
}

}  // namespace sipline
