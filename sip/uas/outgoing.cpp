#include "sip/uas/outgoing.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "sip/uas/access_log.h"
#include "sip/uas/dialog.h"
#include "sip/uas/gateway.h"
#include "sip/uas/response.h"
#include "sip/uas/retransmit.h"
#include "sip/uas/route_set.h"
#include "support/dstring.h"
#include "support/error.h"

namespace sipline {

namespace {

constexpr int kMaxForwards = 70;

void add_first_value(header_list_t *headers, const char *name, parser_header_t *header) {
    if (header != nullptr && header->elements != nullptr) {
        headers_add(headers, name, header->elements->value);
    }
}

// The gateway's side of the dialog is named by the tag its answers gave To (RFC 3261 section
// 12.2.1.1).
void add_own_tag(header_list_t *headers, request_t *r) {
    header_t *from = nullptr;
    headers_get(headers, "From", 1, &from);
    if (from == nullptr || r->to_tag_received != 0) {
        return;
    }
    if (r->to_tag == nullptr) {
        DialogTakeTag(r);
    }
    std::string value = std::string(from->value) + ";tag=" + r->to_tag;
    headers_set(headers, "From", value.c_str());
}

char *copy_bytes(const char *text, int32_t length) {
    if (text == nullptr) {
        return nullptr;
    }
    auto *copy = static_cast<char *>(malloc(static_cast<size_t>(length) + 1));
    if (copy != nullptr) {
        memcpy(copy, text, static_cast<size_t>(length));
        copy[length] = '\0';
    }
    return copy;
}

// The branch whose text the response's top Via carries: the branch is drawn for each of the
// gateway's transactions, so it names the transaction the response belongs to (RFC 3261 section
// 17.1.3). -1 when none does.
int32_t branch_of(const request_t *found, const parser_t *response) {
    parser_header_t *via = RFC822_FindEither(response->headers, "Via", "v");
    const char *text = RFC822_ElementValue(via, 0, "branch");
    for (int32_t i = 0; text != nullptr && i < found->branch_count; i++) {
        if (found->branches[i].text != nullptr && strcmp(found->branches[i].text, text) == 0) {
            return i;
        }
    }
    return -1;
}

}  // namespace

void RequestDialogHeaders(request_t *r) {
    const sip_gateway_t *gateway = SipGateway();
    parser_header_t *received = r->message.headers;
    headers_free(&r->headers);
    char *branch = DialogNewBranch();
    headers_printf(&r->headers, 1, "Via", "SIP/2.0/UDP %s:%d;branch=%s",
                   SipAdvertisedAddress(gateway), SipAdvertisedPort(gateway), branch);
    free(branch);
    // RFC 3261 section 8.1.1.6: every request carries it; softphones refuse a BYE without it.
    headers_printf(&r->headers, 1, "Max-Forwards", "%d", kMaxForwards);
    RouteSetHeaders(r, &r->headers);
    if (r->outgoing != 0) {
        // The record holds the callee's 2xx, whose From and To are the dialog's as we made it
        // (RFC 3261 section 12.2.1.1).
        add_first_value(&r->headers, "From", RFC822_FindEither(received, "From", "f"));
        add_first_value(&r->headers, "To", RFC822_FindEither(received, "To", "t"));
    } else {
        // The dialog seen from the other end: its To is our From (RFC 3261 section 12.2.1.1).
        add_first_value(&r->headers, "From", RFC822_FindEither(received, "To", "t"));
        add_own_tag(&r->headers, r);
        add_first_value(&r->headers, "To", RFC822_FindEither(received, "From", "f"));
    }
    add_first_value(&r->headers, "Timestamp", RFC822_Find(received, "Timestamp"));
    headers_add(&r->headers, "Call-ID", r->call_id);
    headers_printf(&r->headers, 0, "CSeq", "%lu %s", static_cast<unsigned long>(r->cseq.number),
                   r->cseq.method);
    headers_add_time(&r->headers, "Date", "%a, %d %b %Y %T GMT", 0, 0);
    ResponseSetBody(r, nullptr, nullptr, 0);
}

namespace {

void compose(request_t *r, dstring_t *text) {
    char *target = RouteSetRequestUri(r);
    dstring_printf(text, "%s %s SIP/2.0\r\n", r->cseq.method, target);
    free(target);
    headers_print(text, &r->headers);
    dstring_append(text, "\r\n", 2);
    if (r->body != nullptr && r->body_length > 0) {
        dstring_append(text, r->body, r->body_length);
    }
}

}  // namespace

char *RequestText(request_t *r) {
    dstring_t text;
    dstring_init(&text);
    compose(r, &text);
    return dstring_value(&text);
}

int RequestSend(request_t *r, int wait, int release) {
    dstring_t text;
    dstring_init(&text);
    compose(r, &text);
    Debug("RequestSend", "r=%p, r->socket = %d\n%s\n", static_cast<void *>(r), r->socket,
          dstring_value(&text));
    printf("RequestSend :r=%p, r->socket = %d\n%s\n", static_cast<void *>(r), r->socket,
           dstring_value(&text));
    bool reliable = strcmp(r->cseq.method, "INVITE") == 0 && r->status >= 200 && wait != 0;
    transmission_t sent =
        TransmitRetrying(r, dstring_value(&text), dstring_length(&text), reliable);
    // No final wait: the request is not registered, so no answer could end it, and the
    // gateway would stay deaf to new calls for its length.
    if (r->status >= 200 && wait != 0) {
        LogRequest(r);
    }
    dstring_free(&text);
    if (release != 0) {
        headers_free(&r->headers);
        ReleaseMutex(r->mutex);
        RequestFree(r);
    }
    return sent.result;
}

void MessageEnqueue(sip_response_t **queue, const parser_t *message, const char *content_type,
                    int32_t body_length, const char *body, sip_branch_t *branch) {
    auto *entry = new (std::nothrow) sip_response_t{};
    if (entry == nullptr) {
        Error("MessageEnqueue", "Couldn't allocate new memory space");
        return;
    }
    MessageDuplicate(&entry->message, message);
    entry->content_type = content_type != nullptr ? strdup(content_type) : nullptr;
    entry->body_length = body_length;
    entry->body = copy_bytes(body, body_length);
    entry->branch = branch;
    sip_response_t **tail = queue;
    while (*tail != nullptr) {
        tail = &(*tail)->next;
    }
    *tail = entry;
}

void *ResponseProcessThread(void *argument) {
    auto *r = static_cast<request_t *>(argument);
    char *protocol = MessageGetProtocol(&r->message);
    if (protocol != nullptr && strcmp(protocol, "SIP") == 0 &&
        RFC822_FindEither(r->message.headers, "Call-ID", "i") != nullptr) {
        r->cseq = SIP_CSeq(&r->message);
        const char *call_id = SIP_CallID(&r->message);
        r->call_id = call_id != nullptr ? strdup(call_id) : nullptr;
        r->via = SIP_Via(&r->message, 1, 1, nullptr);
        r->to = SIP_To(&r->message);
        r->from = SIP_From(&r->message);
        parser_header_t *type = RFC822_FindEither(r->message.headers, "Content-Type", "c");
        r->content_type =
            type != nullptr && type->elements != nullptr ? type->elements->value : nullptr;
        if (r->via.address.sin_family != 0) {
            request_t *found = RequestFindMatch(r);
            Debug("ResponseProcessThread", "Response rp=%p r=%p\n", static_cast<void *>(found),
                  static_cast<void *>(r));
            if (found != nullptr) {
                int32_t branch = branch_of(found, &r->message);
                if (branch >= 0) {
                    sip_branch_t *b = &found->branches[branch];
                    MessageEnqueue(&b->responses, &r->message, r->content_type, r->body_length,
                                   r->body, b);
                    Debug("ResponseProcessThread",
                          "Request %p, branch %d: Signalling response_received, status = %d\n",
                          static_cast<void *>(found), branch, r->message.status);
                    cond_broadcast(&b->cond);
                }
                ReleaseMutex(found->mutex);
            }
        }
    }
    RequestFree(r);
    free(protocol);
    return nullptr;
}

}  // namespace sipline
