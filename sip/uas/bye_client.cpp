#include "sip/uas/bye_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "sip/uas/invite_client.h"
#include "sip/uas/outgoing.h"
#include "sip/uas/transaction_record.h"
#include "sip/uas/transport.h"
#include "support/system.h"

namespace sipline {
namespace {

using clock_type = std::chrono::steady_clock;
using seconds = std::chrono::duration<double>;

constexpr uint32_t WAIT_SLICE_MS = 50;

struct bye_transaction {
    request_t *record;
    std::string text;
};

void *keep_sending(void *argument) {
    std::unique_ptr<bye_transaction> bye(static_cast<bye_transaction *>(argument));
    request_t *t = bye->record;
    const clock_type::time_point start = clock_type::now();
    double interval = SIP_T1;
    clock_type::time_point next =
        start + std::chrono::duration_cast<clock_type::duration>(seconds(interval));
    bool provisional = false;
    int32_t final_status = 0;
    while (final_status == 0) {
        sip_response_t *responses = RequestResponsesTake(t, WAIT_SLICE_MS);
        for (sip_response_t *e = responses; e != nullptr; e = e->next) {
            if (e->message.status >= 200) {
                final_status = e->message.status;
            } else if (e->message.status >= 100) {
                provisional = true;
            }
        }
        RequestResponsesFree(responses);
        const clock_type::time_point now = clock_type::now();
        if (final_status != 0) {
            std::printf("%s answered %d\n", t->cseq.method, final_status);
        } else if (now - start >= seconds(SIP_TIMER_F)) {
            std::printf("%s unanswered: given up after %.0f s\n", t->cseq.method, SIP_TIMER_F);
            break;
        } else if (now >= next) {
            std::printf("%s sent again\n", t->cseq.method);
            if (ResponseSendSocket(t, bye->text.c_str(), static_cast<int32_t>(bye->text.size())) !=
                0) {
                break;
            }
            interval = provisional ? SIP_T2 : std::min(interval * 2, SIP_T2);
            next = now + std::chrono::duration_cast<clock_type::duration>(seconds(interval));
        }
    }
    RequestFree(t);
    return nullptr;
}

}  // namespace

int RequestByeSend(request_t *r) {
    // Registered before the first send, so that an answer at once is not missed.
    auto *bye = new bye_transaction{TransactionRecordCreate(r), ""};
    char *text = RequestText(r);
    bye->text = text;
    std::free(text);
    WaitForSingleObject(r->mutex, INFINITE);
    int sent = RequestSend(r, 1, 0);
    ReleaseMutex(r->mutex);
    thread_t thread{};
    if (sent != 0 || thread_create(&thread, nullptr, keep_sending, bye) != 0) {
        RequestFree(bye->record);
        delete bye;
    }
    return sent;
}

}  // namespace sipline
