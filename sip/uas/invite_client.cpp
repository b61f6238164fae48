#include "sip/uas/invite_client.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sip/message/fields.h"
#include "sip/message/uri.h"
#include "sip/uas/credentials.h"
#include "sip/uas/dialog.h"
#include "sip/uas/gateway.h"
#include "sip/uas/response.h"
#include "sip/uas/route_set.h"
#include "sip/uas/session_timer.h"
#include "support/dstring.h"
#include "support/error.h"
#include "support/resolve.h"

namespace sipline {

namespace {

constexpr int kMaxForwards = 70;
constexpr size_t kCookieLength = 7;  // strlen(BRANCH_COOKIE)

const char *text_or_empty(const char *text) {
    return text != nullptr ? text : "";
}

// 16 hex digits drawn as a branch is, for the Call-ID and the gateway's tag.
std::string random_word() {
    char *branch = DialogNewBranch();
    std::string word(branch + kCookieLength);
    free(branch);
    return word;
}

std::string line_of(header_list_t *headers, const char *name) {
    header_t *line = nullptr;
    const char *value = headers_get(headers, name, 1, &line);
    return value != nullptr ? value : "";
}

std::string first_value(parser_header_t *header) {
    return header != nullptr && header->elements != nullptr ? text_or_empty(header->elements->value)
                                                            : "";
}

bool aim(sockaddr_in *to, const char *host, int32_t port) {
    in_addr address{};
    if (host == nullptr || resolve_host(host, &address) != 0) {
        return false;
    }
    to->sin_family = AF_INET;
    to->sin_addr = address;
    to->sin_port = htons(static_cast<uint16_t>(port > 0 ? port : SIP_PORT));
    return true;
}

// A request that goes with the INVITE's transaction: its Request-URI, its Via (so its branch),
// From, Call-ID and CSeq number (RFC 3261 sections 9.1 and 17.1.1.3).
char *in_transaction(request_t *r, const char *method, const std::string &to) {
    header_list_t *h = &r->headers;
    std::string text = std::string(method) + " " + text_or_empty(r->target) + " SIP/2.0\r\n" +
                       "Via: " + line_of(h, "Via") +
                       "\r\nMax-Forwards: " + std::to_string(kMaxForwards) +
                       "\r\nFrom: " + line_of(h, "From") + "\r\nTo: " + to +
                       "\r\nCall-ID: " + text_or_empty(r->call_id) +
                       "\r\nCSeq: " + std::to_string(r->cseq.number) + " " + method +
                       "\r\nContent-Length: 0\r\n\r\n";
    return strdup(text.c_str());
}

// The record's INVITE made ready to be sent anew (RFC 3261 section 8.1.3.5): CSeq one higher,
// a new branch, and what `change` does to its headers.
template <typename F>
void next_attempt(request_t *r, F change) {
    char *branch = DialogNewBranch();
    // Response threads find the record in the open-request list by its CSeq number and then
    // read its branches under its mutex: out of the list and under the mutex, nothing reads it.
    const bool registered = RequestUnregister(r) != 0;
    if (r->mutex == nullptr) {
        r->mutex = CreateMutex(false);
    }
    WaitForSingleObject(r->mutex, INFINITE);
    r->cseq.number += 1;
    free(r->branches[0].text);
    r->branches[0].text = branch;
    headers_printf(&r->headers, 1, "Via", "SIP/2.0/UDP %s:%d;branch=%s",
                   SipAdvertisedAddress(SipGateway()), SipAdvertisedPort(SipGateway()), branch);
    headers_printf(&r->headers, 1, "CSeq", "%lu INVITE",
                   static_cast<unsigned long>(r->cseq.number));
    change();
    ReleaseMutex(r->mutex);
    if (registered) {
        RequestRegister(r);
    }
}

}  // namespace

int RequestInviteCreate(request_t *r, const char *uri, const char *user, const char *body,
                        int socket) {
    const sip_gateway_t *gateway = SipGateway();
    const char *own = SipAdvertisedAddress(gateway);
    uri_t target = URI_Parse(text_or_empty(uri));
    sockaddr_in to{};
    bool aimed = aim(&to, target.host, target.port);
    if (!aimed || socket < 0) {
        Error("RequestInviteCreate", "%s: %s", text_or_empty(uri),
              aimed ? "the SIP listener does not run" : "no host that resolves");
        URI_Free(&target);
        return -1;
    }
    r->socket = socket;
    r->destination = to;
    r->via.address = to;
    r->outgoing = 1;
    free(r->target);
    r->target = strdup(uri);
    URI_Free(&r->to.uri);
    r->to.uri = target;
    std::string from = std::string("sip:") + user + "@" + own;
    URI_Free(&r->from.uri);
    r->from.uri = URI_Parse(from.c_str());
    free(r->call_id);
    r->call_id = strdup((random_word() + "@" + own).c_str());
    free(r->to_tag);
    r->to_tag = strdup(random_word().c_str());
    r->to_tag_received = 0;
    r->cseq.number = 1;
    snprintf(r->cseq.method, sizeof r->cseq.method, "%s", "INVITE");

    char *branch = DialogNewBranch();
    r->branches = new sip_branch_t[1]{};
    r->branch_count = 1;
    r->branches[0].text = branch;
    cond_init(&r->branches[0].cond);

    headers_free(&r->headers);
    headers_printf(&r->headers, 0, "Via", "SIP/2.0/UDP %s:%d;branch=%s", own,
                   SipAdvertisedPort(SipGateway()), branch);
    headers_printf(&r->headers, 0, "Max-Forwards", "%d", kMaxForwards);
    headers_printf(&r->headers, 0, "From", "<%s>;tag=%s", from.c_str(), r->to_tag);
    headers_printf(&r->headers, 0, "To", "<%s>", uri);
    headers_add(&r->headers, "Call-ID", r->call_id);
    headers_printf(&r->headers, 0, "CSeq", "%lu INVITE", static_cast<unsigned long>(1));
    headers_printf(&r->headers, 0, "Contact", "<sip:%s@%s:%d>", user, own,
                   SipAdvertisedPort(SipGateway()));
    headers_add_time(&r->headers, "Date", "%a, %d %b %Y %T GMT", 0, 0);
    // RFC 4028 section 7.1: the gateway asks for a session timer and leaves the refresher to the
    // callee.
    headers_add(&r->headers, "Supported", "timer");
    headers_printf(&r->headers, 0, "Session-Expires", "%d", SESSION_EXPIRES_ASKED);
    headers_printf(&r->headers, 0, "Min-SE", "%d", SESSION_MIN_SE);
    ResponseSetBody(r, body, "application/sdp", -1);
    free(r->body);
    r->body = body != nullptr ? strdup(body) : nullptr;
    r->body_length = body != nullptr ? static_cast<int32_t>(strlen(body)) : 0;
    return 0;
}

int RequestInviteThrough(request_t *r, const char *proxy) {
    uri_t hop = URI_Parse(text_or_empty(proxy));
    sockaddr_in to{};
    const bool aimed = aim(&to, hop.host, hop.port);
    URI_Free(&hop);
    if (!aimed) {
        Error("RequestInviteThrough", "%s: no host that resolves", text_or_empty(proxy));
        return -1;
    }
    r->destination = to;
    r->via.address = to;
    headers_printf(&r->headers, 0, "Route", "<%s;lr>", proxy);
    return 0;
}

sip_response_t *RequestResponsesTake(request_t *r, uint32_t milliseconds) {
    if (r->branch_count < 1) {
        return nullptr;
    }
    sip_branch_t *branch = &r->branches[0];
    WaitForSingleObject(r->mutex, INFINITE);
    // The queue is tested under the mutex the response thread queues under; a wake-up that
    // finds it empty (the condition's stored signal, or RequestResponsesWake) returns null.
    if (branch->responses == nullptr) {
        cond_wait_ms(&branch->cond, &r->mutex, milliseconds);
    }
    sip_response_t *taken = branch->responses;
    branch->responses = nullptr;
    ReleaseMutex(r->mutex);
    return taken;
}

void RequestResponsesWake(request_t *r) {
    if (r->branch_count > 0) {
        cond_signal(&r->branches[0].cond);
    }
}

void RequestInviteAnswered(request_t *r, const parser_t *response) {
    MessageFree(&r->message);
    MessageDuplicate(&r->message, response);
    // The INVITE's body is not sent again: the dialog's requests carry none.
    free(r->body);
    r->body = nullptr;
    r->body_length = 0;
    char *contact = RouteSetRequestUri(r);
    uri_t remote = URI_Parse(contact);
    sockaddr_in to{};
    if (aim(&to, remote.host, remote.port)) {
        r->via.address = to;
        r->destination = to;
    }
    URI_Free(&remote);
    free(r->target);
    r->target = contact;
}

char *RequestAckText(request_t *r, const parser_t *response) {
    std::string to = first_value(RFC822_FindEither(response->headers, "To", "t"));
    if (response->status < 200 || response->status >= 300) {
        return in_transaction(r, "ACK", to);
    }
    header_list_t headers{};
    char *branch = DialogNewBranch();
    headers_printf(&headers, 0, "Via", "SIP/2.0/UDP %s:%d;branch=%s",
                   SipAdvertisedAddress(SipGateway()), SipAdvertisedPort(SipGateway()), branch);
    free(branch);
    headers_printf(&headers, 0, "Max-Forwards", "%d", kMaxForwards);
    RouteSetHeaders(r, &headers);
    headers_add(&headers, "From", line_of(&r->headers, "From").c_str());
    headers_add(&headers, "To", to.c_str());
    headers_add(&headers, "Call-ID", r->call_id);
    headers_printf(&headers, 0, "CSeq", "%lu ACK", static_cast<unsigned long>(r->cseq.number));
    headers_add(&headers, "Content-Length", "0");
    dstring_t text;
    dstring_init(&text);
    char *target = RouteSetRequestUri(r);
    dstring_printf(&text, "ACK %s SIP/2.0\r\n", target);
    free(target);
    headers_print(&text, &headers);
    dstring_append(&text, "\r\n", 2);
    headers_free(&headers);
    return dstring_value(&text);
}

char *RequestCancelText(request_t *r) {
    return in_transaction(r, "CANCEL", line_of(&r->headers, "To"));
}

int RequestInviteAuthorize(request_t *r, const parser_t *response, const char *user,
                           const char *password) {
    const char *header = nullptr;
    char *credentials = nullptr;
    if (r->branch_count < 1 ||
        RequestCredentials(response, user, password, "INVITE", text_or_empty(r->target), &header,
                           &credentials) != 0) {
        return -1;
    }
    next_attempt(r, [&] { headers_set(&r->headers, header, credentials); });
    free(credentials);
    return 0;
}

int RequestInviteRetime(request_t *r, const parser_t *response) {
    if (r->branch_count < 1 || response->status != 422) {
        return -1;
    }
    const int32_t min_se = SessionTimerMinSe(response);
    const bool usable = min_se >= SESSION_MIN_SE && min_se <= SESSION_EXPIRES_MOST;
    next_attempt(r, [&] {
        headers_remove_all(&r->headers, "Session-Expires");
        headers_remove_all(&r->headers, "Min-SE");
        if (usable) {
            headers_printf(&r->headers, 0, "Session-Expires", "%d", min_se);
            headers_printf(&r->headers, 0, "Min-SE", "%d", min_se);
        }
    });
    return usable ? min_se : 0;
}

int RequestSendText(const request_t *r, const sockaddr_in *to, const char *text) {
    char address[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &to->sin_addr, address, sizeof address);
    size_t length = strlen(text);
    printf("Sending %zu bytes to  %s port %d via UDP\n%s\n", length, address, ntohs(to->sin_port),
           text);
    if (sendto(r->socket, text, length, 0, reinterpret_cast<const sockaddr *>(to), sizeof *to) <
        0) {
        Error("RequestSendText", "sendto");
        return -1;
    }
    return 0;
}

}  // namespace sipline
