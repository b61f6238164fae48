// The INVITE the gateway sends itself (a call from the line), its CANCEL and its ACKs (RFC 3261
// sections 8.1.1, 9.1, 13.2.2.4 and 17.1.1.3), built in the call's record. The record is
// registered in the open-request list, and ResponseProcessThread queues the callee's responses
// on its one branch, the INVITE's.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "sip/uas/request.h"

namespace sipline {

// RFC 3261 section 17.1.1.1 and table 4, in seconds.
inline constexpr double SIP_T1 = 0.5;
inline constexpr double SIP_T2 = 4;
inline constexpr double SIP_TIMER_B = 64 * SIP_T1;
inline constexpr double SIP_TIMER_F = 64 * SIP_T1;

// Fills a new record with an INVITE from "sip:USER@HostAddress" to `uri` carrying `body` as
// application/sdp: a new Call-ID, CSeq 1 INVITE, From with the gateway's tag, To, a Via with a
// new branch (the record's one branch), Contact, Max-Forwards 70, and the session timer it asks
// for (Supported: timer, Session-Expires SESSION_EXPIRES_ASKED, Min-SE SESSION_MIN_SE). It is aimed
// at the URI's host and port (5060 when it names none) and sent from `socket` (the SIP listener's,
// SipListeningSocket). 0, or -1 (reported) when the URI has no host that resolves or there is no
// socket.
int RequestInviteCreate(request_t *r, const char *uri, const char *user, const char *body,
                        int socket);
// Sends the record's INVITE, and the requests of its transaction, to the proxy `proxy` (a SIP
// URI) with a Route header naming it (RFC 3261 section 8.1.2, loose routing), instead of to the
// Request-URI's host. 0, or -1 (reported, nothing changed) when the proxy does not resolve.
int RequestInviteThrough(request_t *r, const char *proxy);

// RFC 3261 section 20.20 and RFC 3323 section 4.1.1.3: the INVITE made by RequestInviteCreate
// names the line's caller in its From: `display` (printable ASCII, quoted here; null or empty
// for none) and `number` as the user part, or the anonymous URI when `anonymous` is set. The
// Contact stays the gateway's. 0, or -1 (nothing changed) for a number that is no SIP user.
int RequestInviteSetCaller(request_t *r, const char *display, const char *number, bool anonymous);
// Waits up to `milliseconds` for the record's branch to receive a response and takes what it
// queued, oldest first (null when nothing came); release with RequestResponsesFree.
sip_response_t *RequestResponsesTake(request_t *r, uint32_t milliseconds);
// Ends a wait in RequestResponsesTake early, from any thread.
void RequestResponsesWake(request_t *r);
// The callee's 2xx: the record keeps it as its dialog's message (To tag, Contact, Record-Route,
// which RequestDialogHeaders and RequestSend read for the BYE) and aims at its Contact.
void RequestInviteAnswered(request_t *r, const parser_t *response);
// The ACK of a final response to the INVITE: for a 2xx a transaction of its own in the dialog
// (section 13.2.2.4), else in the INVITE's transaction (section 17.1.1.3). Release with free().
char *RequestAckText(request_t *r, const parser_t *response);
// The CANCEL of the INVITE (section 9.1). Release with free().
char *RequestCancelText(request_t *r);
// RFC 3261 section 22.2: the record's INVITE made again for a 401 (WWW-Authenticate) or 407
// (Proxy-Authenticate) response, with credentials for the first challenge it can answer: CSeq
// one higher, a new branch, an Authorization or Proxy-Authorization header. The caller has
// acknowledged the challenge and sends the INVITE. 0, or -1 (nothing changed) when there are no
// credentials or no challenge it can answer.
int RequestInviteAuthorize(request_t *r, const parser_t *response, const char *user,
                           const char *password);
// RFC 4028 section 7.4: the record's INVITE made again for a 422, CSeq one higher and a new
// branch, asking for the 422's Min-SE as its Session-Expires and Min-SE. A 422 whose Min-SE is
// missing, no number, or more than SESSION_EXPIRES_MOST is no interval the gateway can offer:
// the INVITE is made again without Session-Expires and Min-SE, leaving the interval to the
// callee. The caller has acknowledged the 422 and sends the INVITE. The interval asked for (0:
// none), or -1 (nothing changed) when the response is no 422.
int RequestInviteRetime(request_t *r, const parser_t *response);
// Sends a composed request from the record's socket to `to`; 0 or -1.
int RequestSendText(const request_t *r, const sockaddr_in *to, const char *text);

}  // namespace sipline
