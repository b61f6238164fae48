#include "sip/uas/request.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "sip/uas/outgoing.h"
#include "sip/uas/response.h"
#include "support/error.h"

namespace sipline {

namespace {

// Written only by tests, before any message is received.
std::atomic<request_thread_starter_t> thread_starter{nullptr};
// Raised by RequestCreate and lowered by RequestFree on any thread; read for diagnostics.
std::atomic<int32_t> live_records{0};

char *copy_text(const char *text) {
    return text == nullptr ? nullptr : strdup(text);
}

void responses_free(sip_response_t *response) {
    while (response != nullptr) {
        sip_response_t *next = response->next;
        MessageFree(&response->message);
        free(response->content_type);
        free(response->body);
        delete response;
        response = next;
    }
}

int start_thread(void *(*routine)(void *), request_t *r) {
    request_thread_starter_t starter = thread_starter.load();
    if (starter == nullptr) {
        starter = thread_create;
    }
    thread_t thread{};
    return starter(&thread, nullptr, routine, r);
}

}  // namespace

request_t *RequestCreate(int32_t transport, int socket, const sockaddr_in *address) {
    auto *r = new request_t{};
    r->created = time_now();
    r->transport = transport;
    r->socket = socket;
    if (address != nullptr) {
        r->source = *address;
        r->destination = *address;
    }
    r->message.status = -1;
    r->via.branch = -1;
    cond_init(&r->cond);
    r->mutex = CreateMutex(false);
    live_records.fetch_add(1);
    return r;
}

void RequestFree(request_t *r) {
    if (r == nullptr) {
        return;
    }
    RequestUnregister(r);
    MessageFree(&r->message);
    free(r->version);
    SIP_AddressFree(&r->to);
    SIP_AddressFree(&r->from);
    SIP_ViaFree(&r->via);
    SIP_ContactFree(r->contact);
    free(r->call_id);
    free(r->body);
    free(r->reason);
    headers_free(&r->headers);
    free(r->response_type);
    free(r->response_body);
    if (r->authorization != nullptr) {
        HTTP_AuthorizationFree(r->authorization);
        delete r->authorization;
    }
    responses_free(r->responses);
    for (int32_t i = 0; i < r->branch_count; i++) {
        free(r->branches[i].text);
        responses_free(r->branches[i].responses);
        cond_release(&r->branches[i].cond);
    }
    delete[] r->branches;
    if (r->mutex != nullptr) {
        CloseHandle(r->mutex);
    }
    cond_release(&r->cond);
    delete r;
    live_records.fetch_sub(1);
}

int32_t RequestLiveCount() {
    return live_records.load();
}

void RequestSetStatus(request_t *r, int32_t status, const char *reason) {
    r->status = status;
    free(r->reason);
    r->reason = copy_text(reason);
}

void RequestCopy(request_t *target, request_t *source) {
    RequestSetStatus(target, source->status, source->reason);
    MessageFree(&target->message);
    MessageDuplicate(&target->message, &source->message);
    target->via.address = source->via.address;
    target->destination = source->destination;
    target->source = source->source;
    target->socket = source->socket;
    target->cseq = source->cseq;
    free(target->call_id);
    target->call_id = copy_text(source->call_id);
    URI_Free(&target->to.uri);
    target->to.uri = URI_Duplicate(&source->to.uri);
    URI_Free(&target->from.uri);
    target->from.uri = URI_Duplicate(&source->from.uri);
    // Both records now hold the one condition object: an ACK signalled through either wakes
    // the sender waiting on the other, and releasing one keeps it alive for the other.
    cond_release(&target->cond);
    cond_share(&target->cond, &source->cond);
    headers_add_message(&target->headers, source->message.headers);
    headers_copy_except(&target->headers, &source->headers, "XXX");
    ResponseSetBody(target, source->response_body, source->response_type, source->response_length);
}

void RequestSetThreadStarter(request_thread_starter_t starter) {
    thread_starter.store(starter);
}

void RequestProcess(request_t *r) {
    void *(*routine)(void *) = nullptr;
    if (r->message.type == MESSAGE_REQUEST) {
        routine = RequestProcessThread;
    } else if (r->message.type == MESSAGE_RESPONSE) {
        routine = ResponseProcessThread;
    } else {
        RequestFree(r);
        return;
    }
    int result = start_thread(routine, r);
    if (result != 0) {
        Error("RequestProcess", "couldn't start thread: %d", result);
        RequestFree(r);
    }
}

}  // namespace sipline
