#include <netinet/in.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "board/board.h"
#include "sip/uas/call_lock.h"
#include "sip/uas/dialog.h"
#include "sip/uas/dispatch.h"
#include "sip/uas/dtmf_info.h"
#include "sip/uas/gateway.h"
#include "sip/uas/in_dialog.h"
#include "sip/uas/invite.h"
#include "sip/uas/request.h"
#include "sip/uas/response.h"
#include "sip/uas/rport.h"

namespace sipline {

namespace {

struct free_text {
    void operator()(char *text) const { free(text); }
};
using owned_text = std::unique_ptr<char, free_text>;

bool equal(const char *a, const char *b) {
    return a != nullptr && b != nullptr && strcmp(a, b) == 0;
}

bool is(const char *method, const char *name) {
    return equal(method, name);
}

void post(int32_t type) {
    const sip_gateway_t *gateway = SipGateway();
    if (gateway->PostEvent != nullptr) {
        gateway->PostEvent(gateway->context, type);
    }
}

void set_call_state(int32_t state) {
    const sip_gateway_t *gateway = SipGateway();
    if (gateway->CallState != nullptr) {
        gateway->CallState->store(state);
    }
}

// Sends one answer without waiting and releases the record.
void refuse(request_t *r, int32_t status) {
    ResponseAnswer(r, status, nullptr, nullptr, 0, 0, 1);
}

// Sends one answer without waiting; the record stays with the caller.
void answer(request_t *r, int32_t status) {
    ResponseAnswer(r, status, nullptr, nullptr, 0, 0, 0);
}

// An ACK that the dispatch gives to no one may still end the retransmission of an answer
// refused after a failed check.
void drop_ack(request_t *r) {
    if (ResponseAcknowledge(r) != 0) {
        printf("ACKed\n");
    }
    RequestFree(r);
}

// RFC 6086: an INFO inside the call. A DTMF key in it is played on the line.
void take_info(request_t *r) {
    const sip_gateway_t *gateway = SipGateway();
    char key = 0;
    int32_t duration_ms = 0;
    const int status = DtmfInfoRead(r->content_type, r->body, &key, &duration_ms);
    if (status == 200 && key != 0) {
        printf("INFO: DTMF %c for %d ms\n", key, duration_ms);
        gateway->DigitReceived(gateway->context, key, duration_ms);
    } else if (status != 200) {
        printf("INFO refused %d\n", status);
    }
    refuse(r, status);
}

void check_request(request_t *r, const char *method) {
    const sip_gateway_t *gateway = SipGateway();
    parser_t *message = &r->message;
    if (method == nullptr) {
        r->status = 400;
    }
    if (!equal(message->protocol, "SIP") || !equal(r->version, "2.0")) {
        r->status = 505;
    }
    if (RFC822_Find(message->headers, "Require") != nullptr) {
        r->status = 420;
    }
    if (!equal(message->uri.scheme, "sip")) {
        r->status = 400;
    }
    r->cseq = SIP_CSeq(message);
    const char *call_id = SIP_CallID(message);
    r->call_id = call_id != nullptr ? strdup(call_id) : nullptr;
    r->via = SIP_Via(message, 1, 1, gateway->HostName);
    // Answers go to the sender's address (RFC 3261 section 18.2.2, "received"), at the port
    // that the Via names.
    if (r->via.address.sin_family == 0 || r->via.address.sin_addr.s_addr == 0) {
        r->via.address = r->source;
    } else if (r->via.address.sin_addr.s_addr != r->source.sin_addr.s_addr) {
        r->via.address.sin_addr = r->source.sin_addr;
    }
    parser_header_t *top_via = RFC822_FindEither(message->headers, "Via", "V");
    if (ViaAsksRport(top_via != nullptr && top_via->elements != nullptr ? top_via->elements->element
                                                                        : nullptr) != 0) {
        r->rport = 1;
        r->via.address = r->source;
    }
    r->destination = r->via.address;
    r->contact = SIP_Contact(message);
    r->expires = SIP_Expires(message);
    DialogTakeTag(r);
}

// The gateway's security decision; when it refuses, it has answered already.
bool admitted(request_t *r) {
    const sip_gateway_t *gateway = SipGateway();
    return gateway->AdmitRequest(gateway->admission, r) == 0;
}

void dispatch_new_call(request_t *r, const char *method) {
    printf("New call\n");
    if (is(method, "ACK")) {
        printf("ACK to unknown request received\n");
        drop_ack(r);
    } else if (is(method, "CANCEL") || is(method, "UPDATE")) {
        refuse(r, 481);
    } else if (is(method, "OPTIONS")) {
        // A PBX probes its trunks with OPTIONS and takes a 501 for a dead one.
        if (SipGateway()->AnswerOptions != 0) {
            InDialogOptions(r);
        } else {
            refuse(r, 501);
        }
    } else if (is(method, "REGISTER")) {
        // A password guesser registers: it meets the same challenge and bans as a caller.
        if (admitted(r)) {
            refuse(r, 501);
        } else {
            RequestFree(r);
        }
    } else if (is(method, "INVITE")) {
        if (admitted(r)) {
            InviteHandle(r);
        }
        // CurrentRequest holds what the call needs (and shares the condition object), and the
        // 100 has been sent: nothing refers to this record any more.
        RequestFree(r);
    } else {
        refuse(r, 400);
    }
}

void dispatch_same_call(request_t *r, request_t *current, const char *method,
                        std::unique_lock<std::mutex> &lock) {
    const sip_gateway_t *gateway = SipGateway();
    printf("Same callID\n");
    // In a dialog the gateway made, the far end's requests come from the callee, To us.
    const bool outgoing = current->outgoing != 0;
    const char *our_user = outgoing ? current->from.uri.user : current->to.uri.user;
    const char *their_user = outgoing ? current->to.uri.user : current->from.uri.user;
    if (!equal(r->to.uri.user, our_user) || !equal(r->from.uri.user, their_user)) {
        printf("Bad request\n");
        if (is(method, "ACK")) {
            RequestFree(r);  // an ACK is never answered (RFC 3261 section 17.2.1)
        } else {
            refuse(r, 400);
        }
        return;
    }
    // A request that names the dialog by a To tag is the call's only with the call's tag (RFC
    // 3261 section 12.2.2); a CANCEL is the call's when it names the INVITE's transaction
    // (section 9.2), and DialogTakeTag gives it the INVITE's tag exactly then.
    // The callee has no INVITE of its own to cancel.
    if ((r->to_tag_received != 0 || is(method, "CANCEL")) &&
        (!equal(r->to_tag, current->to_tag) || (outgoing && is(method, "CANCEL")))) {
        printf("Not this dialog\n");
        if (is(method, "ACK")) {
            RequestFree(r);
        } else {
            refuse(r, 481);
        }
        return;
    }
    if (is(method, "ACK") && current->acked.load() == 0) {
        printf("ACKed\n");
        if (r->body != nullptr && r->body[0] != '\0' && current->ack_body == nullptr) {
            current->ack_body = strdup(r->body);
        }
        current->acked.store(1);
        cond_broadcast(&current->cond);
        r->status = 0;
        RequestFree(r);
        return;
    }
    // The ACK of a 2xx to a re-INVITE (or a late copy of the first one's): never answered.
    if (is(method, "ACK")) {
        if (ResponseAcknowledge(r) != 0) {
            printf("ACKed\n");
        }
        RequestFree(r);
        return;
    }
    // A CANCEL carries the CSeq number of the INVITE it cancels (RFC 3261 section 9.1), so it
    // is recognised before the test for retransmissions.
    if (is(method, "CANCEL")) {
        answer(r, 200);
        // Once the INVITE has its final answer a CANCEL changes nothing (RFC 3261 section 9.2):
        // the call is ended by a BYE, not by this.
        if (current->answered_finally.load() != 0) {
            printf("CANCEL after the final answer\n");
        } else if (current->cancelled == 0) {
            current->cancelled = 1;
            set_call_state(ST_CLEANUP);
            printf("CANCEL\n");
            post(EV_WAKEUP);
        }
        RequestFree(r);
        return;
    }
    // Each side numbers its own requests (RFC 3261 section 12.2.2): the callee's start anywhere;
    // the caller's are told from retransmissions by its INVITE's number (kept in remote_cseq
    // once the gateway's own requests number on from it), so that a request of higher number
    // sent by a stranger cannot make the caller's own BYE look old.
    const bool seen = current->remote_cseq_seen != 0;
    if (outgoing ? seen && r->cseq.number <= current->remote_cseq
                 : r->cseq.number <= (seen ? current->remote_cseq : current->cseq.number)) {
        printf("Retransmission of %s\n", method);
        RequestFree(r);
        return;
    }
    if (outgoing) {
        current->remote_cseq = r->cseq.number;
        current->remote_cseq_seen = 1;
    }
    if (is(method, "INFO")) {
        take_info(r);
        return;
    }
    // A re-INVITE or UPDATE names the dialog by its To tag (RFC 3261 section 14.2).
    if ((is(method, "INVITE") || is(method, "UPDATE")) && r->to_tag_received != 0) {
        InDialogOffer(r, current, lock);
        return;
    }
    if (is(method, "OPTIONS")) {
        InDialogOptions(r);
        return;
    }
    if (is(method, "INVITE") || is(method, "UPDATE")) {
        printf("Bad request\n");
        refuse(r, 400);
        return;
    }
    // RFC 3261 section 8.2.1: a method the gateway does not do.
    if (!is(method, "BYE")) {
        printf("Not implemented in the call: %s\n", method != nullptr ? method : "");
        refuse(r, 501);
        return;
    }
    printf("BYE\n");
    // A BYE shows that the caller has the 200 (RFC 3261 section 15): the 200 is not sent again
    // and the wait for its ACK ends, so that the BYE is acted on now.
    if (current->acked.exchange(1) == 0) {
        printf("BYE before the ACK\n");
        cond_broadcast(&current->cond);
    }
    answer(r, 200);
    RequestFree(r);
    if (gateway->HangupSignalled != nullptr && gateway->HangupSignalled->exchange(1) != 0) {
        printf("Already finished\n");
        return;
    }
    set_call_state(ST_CLEANUP);
    printf("BYE received: setting the event\n");
    post(EV_REMOTE_HANGUP);
}

void dispatch(request_t *r, const char *method) {
    const sip_gateway_t *gateway = SipGateway();
    std::unique_lock<std::mutex> lock = CallLock();
    int32_t state = gateway->CallState != nullptr ? gateway->CallState->load() : ST_WTRING;
    request_t *current =
        gateway->CurrentRequest != nullptr ? gateway->CurrentRequest->load() : nullptr;
    if (state == ST_WTRING || current == nullptr) {
        dispatch_new_call(r, method);
    } else if (!equal(r->call_id, current->call_id)) {
        printf("Service unavailable to:%s\n", method);
        if (is(method, "INVITE")) {
            if (admitted(r)) {
                refuse(r, 503);
            } else {
                RequestFree(r);
            }
        } else if (is(method, "UPDATE")) {
            refuse(r, 481);  // RFC 3311 section 5.2: no such dialog
        } else if (is(method, "ACK")) {
            drop_ack(r);
        } else {
            RequestFree(r);
        }
    } else {
        dispatch_same_call(r, current, method, lock);
    }
}

}  // namespace

void *RequestProcessThread(void *argument) {
    auto *r = static_cast<request_t *>(argument);
    if (r->status < 400) {
        r->status = 100;
    }
    r->version = MessageGetVersion(&r->message);
    owned_text method(MessageGetMethod(&r->message));
    const sip_gateway_t *gateway = SipGateway();
    gateway->RequestArrived(gateway->context, method.get() != nullptr ? method.get() : "");
    check_request(r, method.get());
    if (r->status < 201) {
        r->to = SIP_To(&r->message);
        r->from = SIP_From(&r->message);
        parser_header_t *type = RFC822_FindEither(r->message.headers, "Content-Type", "c");
        r->content_type =
            type != nullptr && type->elements != nullptr ? type->elements->value : nullptr;
        dispatch(r, method.get());
    } else if (is(method.get(), "ACK")) {
        drop_ack(r);
    } else {
        // The check's status; an INVITE's answer is retransmitted until its ACK.
        ResponseAnswer(r, r->status, nullptr, nullptr, 0, 1, 1);
    }
    return nullptr;
}

}  // namespace sipline
