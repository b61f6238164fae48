#include "sip/uas/response.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "sip/uas/access_log.h"
#include "sip/uas/dialog.h"
#include "sip/uas/gateway.h"
#include "sip/uas/retransmit.h"
#include "sip/uas/rport.h"
#include "sip/uas/status.h"
#include "support/dstring.h"
#include "support/error.h"

namespace sipline {

namespace {

// Seconds a sender waits after its last transmission for an ACK that may still come.
constexpr double kFinalWait = 30;

// Answers to INVITE that are being retransmitted until their ACK arrives. Written by the
// senders (register at the start, unregister before release), read by the threads that handle
// ACKs; the lock orders both and keeps a record alive while an ACK handler signals it.
std::mutex pending_mutex;
std::vector<request_t *> pending;

void pending_add(request_t *r) {
    std::lock_guard<std::mutex> lock(pending_mutex);
    pending.push_back(r);
}

void pending_remove(request_t *r) {
    std::lock_guard<std::mutex> lock(pending_mutex);
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (*it == r) {
            pending.erase(it);
            return;
        }
    }
}

void add_first_value(header_list_t *headers, const char *name, parser_header_t *header) {
    if (header != nullptr && header->elements != nullptr) {
        headers_add(headers, name, header->elements->value);
    }
}

}  // namespace

void ResponseSetBody(request_t *r, const char *body, const char *type, int32_t length) {
    if (body == nullptr) {
        length = 0;
    } else if (length < 0) {
        length = static_cast<int32_t>(strlen(body));
    }
    char *body_copy = nullptr;
    if (body != nullptr) {
        body_copy = static_cast<char *>(malloc(static_cast<size_t>(length) + 1));
        memcpy(body_copy, body, static_cast<size_t>(length));
        body_copy[length] = '\0';
    }
    char *type_copy = type == nullptr ? nullptr : strdup(type);
    free(r->response_body);
    free(r->response_type);
    r->response_body = body_copy;
    r->response_type = type_copy;
    r->response_length = length;
    if (type_copy != nullptr && length > 0) {
        headers_set(&r->headers, "Content-Type", type_copy);
    } else {
        headers_remove_all(&r->headers, "Content-Type");
    }
    headers_printf(&r->headers, 1, "Content-Length", "%d", length);
}

void ResponseCopyHeaders(request_t *r) {
    parser_header_t *received = r->message.headers;
    headers_free(&r->headers);
    parser_header_t *via = RFC822_FindEither(received, "Via", "V");
    for (parser_element_t *e = via != nullptr ? via->elements : nullptr; e != nullptr;
         e = e->next) {
        if (e == via->elements && r->rport != 0) {
            char *seen = ViaWithReceived(e->element, &r->source);
            headers_add(&r->headers, "Via", seen);
            free(seen);
        } else {
            headers_add(&r->headers, "Via", e->element);
        }
    }
    parser_header_t *route = RFC822_Find(received, "Record-Route");
    for (parser_element_t *e = route != nullptr ? route->elements : nullptr; e != nullptr;
         e = e->next) {
        headers_add(&r->headers, "Record-Route", e->element);
    }
    add_first_value(&r->headers, "From", RFC822_FindEither(received, "From", "F"));
    add_first_value(&r->headers, "To", RFC822_FindEither(received, "To", "T"));
    add_first_value(&r->headers, "Timestamp", RFC822_Find(received, "Timestamp"));
    headers_add(&r->headers, "Call-ID", r->call_id);
    headers_printf(&r->headers, 0, "Cseq", "%lu %s", static_cast<unsigned long>(r->cseq.number),
                   r->cseq.method);
    headers_add_time(&r->headers, "Date", "%a, %d %b %Y %T GMT", 0, 0);
    ResponseSetBody(r, nullptr, nullptr, 0);
}

int ResponseSend(request_t *r, int wait, int release) {
    StatusTextInit();
    if (r->status > STATUS_MAX || r->status < 0 || StatusText[r->status] == nullptr) {
        Error("Response", "invalid status %d", r->status);
        return -1;
    }
    DialogAnswerHeaders(r);
    const sip_gateway_t *gateway = SipGateway();
    gateway->AnswerSent(gateway->context, r->cseq.method, r->status);
    const char *reason = r->reason != nullptr ? r->reason : StatusText[r->status];
    const char *version = r->version != nullptr ? r->version : "2.0";
    dstring_t text;
    dstring_init(&text);
    dstring_printf(&text, "SIP/%.*s %d ", PRINTF_MAX - 20, version, r->status);
    dstring_append(&text, reason, -1);
    dstring_append(&text, "\r\n", 2);
    headers_print(&text, &r->headers);
    dstring_append(&text, "\r\n", 2);
    if (r->response_length > 0 && r->response_body != nullptr) {
        dstring_append(&text, r->response_body, r->response_length);
    }
    Debug("ResponseSend", "r=%p, r->socket = %d\n%s\n", static_cast<void *>(r), r->socket,
          dstring_value(&text));

    const char *method = r->message.method;
    bool reliable =
        method != nullptr && strcmp(method, "INVITE") == 0 && r->status >= 200 && wait != 0;
    if (method != nullptr && strcmp(method, "INVITE") == 0 && r->status >= 200) {
        r->answered_finally.store(1);
    }
    if (reliable) {
        pending_add(r);
    }
    transmission_t sent =
        TransmitRetrying(r, dstring_value(&text), dstring_length(&text), reliable);
    if (r->status >= 200 && wait != 0) {
        LogRequest(r);
        // Only an INVITE's final answer is acknowledged (RFC 3261 section 17.1.1.3): after
        // any other answer nothing could end the wait. Once the ACK is in, it ends at once.
        if (reliable) {
            WaitUntilAcknowledged(r, sent.start, sent.interval + kFinalWait);
        }
    }
    if (reliable) {
        pending_remove(r);
    }
    dstring_free(&text);
    if (release != 0) {
        headers_free(&r->headers);
        ReleaseMutex(r->mutex);
        RequestFree(r);
    }
    printf("Exiting ResponseSend\n");
    return sent.result;
}

int ResponseAnswer(request_t *r, int32_t status, const char *body, const char *type, int32_t length,
                   int wait, int release) {
    RequestSetStatus(r, status, nullptr);
    // Copying the headers empties the body, so the body comes after.
    ResponseCopyHeaders(r);
    ResponseSetBody(r, body, type, length);
    if (release != 0) {
        WaitForSingleObject(r->mutex, INFINITE);
    }
    return ResponseSend(r, wait, release);
}

int ResponseAcknowledge(const request_t *ack) {
    if (ack->call_id == nullptr) {
        return 0;
    }
    // Every sender of that transaction's answer stops: a retransmitted request may have
    // started more than one.
    int found = 0;
    std::lock_guard<std::mutex> lock(pending_mutex);
    for (request_t *r : pending) {
        if (r->call_id != nullptr && strcmp(r->call_id, ack->call_id) == 0 &&
            r->cseq.number == ack->cseq.number) {
            r->acked.store(1);
            cond_broadcast(&r->cond);
            found = 1;
        }
    }
    return found;
}

}  // namespace sipline
