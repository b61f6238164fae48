// The request record: one SIP message received or sent, its dialog identifiers, the answer being
// built in it, and the mutex and condition that let one thread wait for another (a sender
// waiting for its ACK).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>

#include "host/host.h"
#include "sip/message/fields.h"
#include "sip/message/headers.h"
#include "sip/message/http.h"
#include "sip/message/parser.h"
#include "sip/uas/session_timer.h"
#include "support/system.h"

namespace sipline {

// The only transport the system creates; log texts name it "UDP".
inline constexpr int32_t TRANSPORT_UDP = 2;

struct sip_branch_t;

// A received response queued on the request it answers.
struct sip_response_t {
    parser_t message;
    char *content_type;  // owned
    int32_t body_length;
    char *body;  // owned
    sip_branch_t *branch;
    sip_response_t *next;
};

struct sip_branch_t {
    char *text;  // owned
    sip_response_t *responses;
    cond_t cond;  // signalled when a response has been queued
};

struct request_t {
    double created;
    int32_t transport;
    int socket;
    sockaddr_in source;
    sockaddr_in destination;
    parser_t message;
    char *version;
    sip_cseq_t cseq;
    char *call_id;
    sip_address_t to;
    sip_address_t from;
    sip_via_t via;
    int32_t expires;
    sip_contact_t *contact;
    const char *content_type;  // borrowed from message
    int32_t body_length;
    char *body;
    // Written by the thread that handles this record's ACK, read by the sender that waits for
    // it; the sender re-tests it after every wake-up of cond.
    std::atomic<int32_t> acked;
    // Set once an INVITE's final answer has been sent from this record; read by the handler of a
    // CANCEL on another thread.
    std::atomic<int32_t> answered_finally;
    int32_t status;
    char *reason;
    header_list_t headers;
    char *response_type;
    int32_t response_length;
    char *response_body;
    // Shared with the records that RequestCopy fills from this one; each holds a reference.
    cond_t cond;
    HANDLE mutex;
    // Null in every record the system makes; the access log's "%u" reads its userid.
    http_authorization_t *authorization;
    sip_response_t *responses;
    sip_branch_t *branches;
    int32_t branch_count;
    request_t *next;  // open-request list, under its lock
    // The dialog's tag on the gateway's side (owned): the To tag of its answers and the From tag
    // of its requests. to_tag_received is 1 when the received To carried it, 0 when the gateway
    // drew it for the transaction (sip/uas/dialog.h).
    char *to_tag;
    int32_t to_tag_received;
    // Set on the call record when the call's CANCEL was taken, so that a retransmitted CANCEL
    // is answered again and changes nothing more. Under CallLock.
    int32_t cancelled;
    // 1 on the record of a call the gateway makes itself with an INVITE it sends: the dialog's
    // requests then go the other way round (RFC 3261 section 12.1.2). Set before the record is
    // published as CurrentRequest.
    int32_t outgoing;
    // The Request-URI of the requests the gateway sends in that dialog: the callee's URI, then
    // the Contact of its 2xx (owned).
    char *target;
    // The CSeq number of the far end's last request in that dialog (remote_cseq_seen 0 before
    // the first). Under CallLock.
    uint32_t remote_cseq;
    int32_t remote_cseq_seen;
    // The body of the ACK that acknowledged this record's 2xx (owned, null without one): the
    // answer to an offer the 2xx carried (RFC 3261 section 13.2.1). Written under CallLock
    // before acked is set; read by the sender once it sees acked.
    char *ack_body;
    // 1 when the request's top Via asked for rport (RFC 3581): its answers go to its source
    // address and port, and their top Via says so.
    int32_t rport;
    // 1 on the call record while a re-INVITE's 2xx waits for its ACK. Under CallLock.
    int32_t reoffer_pending;
    // The session timer an INVITE or UPDATE asked for and its 2xx grants (RFC 4028).
    session_timer_t session;
};

request_t *RequestCreate(int32_t transport, int socket, const sockaddr_in *address);
void RequestFree(request_t *r);
// Records created and not yet freed, for diagnostics and tests.
int32_t RequestLiveCount();
void RequestSetStatus(request_t *r, int32_t status, const char *reason);
// Releases a queue of received responses, every entry with its message, type and body.
void RequestResponsesFree(sip_response_t *responses);

// The open-request list: the records of requests sent that wait for their responses.
// 1 when the record was put at the head of the list, 0 without a Call-ID.
int RequestRegister(request_t *r);
// The registered record with the response's Call-ID and CSeq number, its mutex taken; or null.
request_t *RequestFindMatch(request_t *response);
// Unlinks the record from the list if it is there; RequestFree does it too. 1 when it was there.
int RequestUnregister(request_t *r);

}  // namespace sipline
