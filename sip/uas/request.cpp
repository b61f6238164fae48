#include "sip/uas/request.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace sipline {

namespace {

// The open-request list: linked through request_t::next, guarded by this lock, which is
// always taken before a record's own mutex.
std::mutex &open_mutex() {
    static std::mutex mutex;
    return mutex;
}
request_t *open_requests;

// Raised by RequestCreate and lowered by RequestFree on any thread; read for diagnostics.
std::atomic<int32_t> live_records{0};

char *copy_text(const char *text) {
    return text == nullptr ? nullptr : strdup(text);
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
    if (RequestUnregister(r) != 0 && r->mutex != nullptr) {
        // A response thread that found the record before it was unlinked holds its mutex
        // while it queues on a branch: let it finish first.
        WaitForSingleObject(r->mutex, INFINITE);
        ReleaseMutex(r->mutex);
    }
    MessageFree(&r->message);
    free(r->version);
    SIP_AddressFree(&r->to);
    SIP_AddressFree(&r->from);
    SIP_ViaFree(&r->via);
    SIP_ContactFree(r->contact);
    free(r->call_id);
    free(r->to_tag);
    free(r->target);
    free(r->ack_body);
    free(r->body);
    free(r->reason);
    headers_free(&r->headers);
    free(r->response_type);
    free(r->response_body);
    if (r->authorization != nullptr) {
        HTTP_AuthorizationFree(r->authorization);
        delete r->authorization;
    }
    RequestResponsesFree(r->responses);
    for (int32_t i = 0; i < r->branch_count; i++) {
        free(r->branches[i].text);
        RequestResponsesFree(r->branches[i].responses);
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

void RequestResponsesFree(sip_response_t *response) {
    while (response != nullptr) {
        sip_response_t *next = response->next;
        MessageFree(&response->message);
        free(response->content_type);
        free(response->body);
        delete response;
        response = next;
    }
}

int32_t RequestLiveCount() {
    return live_records.load();
}

void RequestSetStatus(request_t *r, int32_t status, const char *reason) {
    r->status = status;
    free(r->reason);
    r->reason = copy_text(reason);
}

int RequestRegister(request_t *r) {
    if (r->call_id == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(open_mutex());
    r->next = open_requests;
    open_requests = r;
    return 1;
}

int RequestUnregister(request_t *r) {
    std::lock_guard<std::mutex> lock(open_mutex());
    for (request_t **link = &open_requests; *link != nullptr; link = &(*link)->next) {
        if (*link == r) {
            *link = r->next;
            r->next = nullptr;
            return 1;
        }
    }
    return 0;
}

request_t *RequestFindMatch(request_t *response) {
    if (response->call_id == nullptr) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(open_mutex());
    for (request_t *r = open_requests; r != nullptr; r = r->next) {
        if (r != response && r->call_id != nullptr && strcmp(r->call_id, response->call_id) == 0 &&
            r->cseq.number == response->cseq.number) {
            if (r->mutex == nullptr) {
                r->mutex = CreateMutex(false);
            }
            WaitForSingleObject(r->mutex, INFINITE);
            return r;
        }
    }
    return nullptr;
}

}  // namespace sipline
