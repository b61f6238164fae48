#include "sip/uas/refresh_client.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "sip/uas/dialog.h"
#include "sip/uas/gateway.h"
#include "sip/uas/invite_client.h"
#include "sip/uas/outgoing.h"
#include "sip/uas/response.h"
#include "sip/uas/transaction_record.h"
#include "sip/uas/transport.h"
#include "support/system.h"

namespace sipline {
namespace {

using clock_type = std::chrono::steady_clock;
using seconds = std::chrono::duration<double>;

constexpr uint32_t WAIT_SLICE_MS = 50;

// Re-INVITEs of the gateway between their send and their final answer (or timeout). Written
// and read by any thread; each read stands alone.
std::atomic<int32_t> offers_pending{0};

clock_type::duration span(double s) {
    return std::chrono::duration_cast<clock_type::duration>(seconds(s));
}

bool starts_with(std::string_view line, std::string_view name) {
    return line.size() > name.size() && line[name.size()] == ':' &&
           strncasecmp(line.data(), name.data(), name.size()) == 0;
}

// The ACK of the re-INVITE `invite` (RFC 3261 sections 13.2.2.4 and 17.1.1.3): its Request-URI,
// Via (with `branch` for the ACK of a 2xx, a transaction of its own), Route, From, To, Call-ID
// and Max-Forwards; CSeq the INVITE's number with ACK; no body.
std::string ack_of(std::string_view invite, uint32_t number, const std::string &branch) {
    const size_t uri_at = invite.find(' ') + 1;
    const size_t line_end = invite.find("\r\n");
    std::string ack = "ACK " +
                      std::string(invite.substr(uri_at, invite.rfind(' ', line_end) - uri_at)) +
                      " SIP/2.0\r\n";
    for (size_t at = line_end + 2; at < invite.size();) {
        const size_t end = invite.find("\r\n", at);
        if (end == std::string_view::npos || end == at) {
            break;
        }
        std::string line(invite.substr(at, end - at));
        at = end + 2;
        if (starts_with(line, "Via") && !branch.empty()) {
            const size_t b = line.find(";branch=");
            if (b != std::string::npos) {
                const size_t e = line.find(';', b + 1);
                line.replace(b, e == std::string::npos ? std::string::npos : e - b,
                             ";branch=" + branch);
            }
        }
        if (starts_with(line, "Via") || starts_with(line, "Route") || starts_with(line, "From") ||
            starts_with(line, "To") || starts_with(line, "Call-ID") ||
            starts_with(line, "Max-Forwards")) {
            ack += line + "\r\n";
        }
    }
    return ack + "CSeq: " + std::to_string(number) + " ACK\r\nContent-Length: 0\r\n\r\n";
}

int32_t retry_after_of(const parser_t *message) {
    parser_header_t *h = RFC822_Find(message->headers, "Retry-After");
    const char *text = h != nullptr && h->elements != nullptr ? h->elements->element : nullptr;
    if (text == nullptr) {
        return 0;
    }
    std::string_view value(text);
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    int32_t n = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    return error == std::errc() && end != value.data() && n > 0 ? n : 0;
}

struct refresh_transaction {
    request_t *record;
    bool invite;
    std::string text;
    std::string ack_same;  // the ACK of a non-2xx final answer, in the INVITE's transaction
    std::string ack_new;   // the ACK of a 2xx, a transaction of its own
    uint32_t token;
    refresh_done_t done;
};

void report(refresh_transaction &t, const sip_response_t *final_answer) {
    refresh_outcome_t outcome{};
    outcome.invite = t.invite ? 1 : 0;
    outcome.min_se = -1;
    if (final_answer == nullptr) {
        outcome.status = 408;
    } else {
        const parser_t *m = &final_answer->message;
        outcome.status = m->status;
        if (m->status < 300) {
            outcome.granted_unreadable = SessionTimerReadAnswer(m, &outcome.granted) != 0 ? 1 : 0;
            outcome.body = final_answer->body_length > 0 ? final_answer->body : nullptr;
        } else {
            outcome.min_se = SessionTimerMinSe(m);
            outcome.retry_after = retry_after_of(m);
        }
    }
    if (t.invite) {
        offers_pending.fetch_sub(1);
    }
    t.done(t.token, &outcome);
}

void *run_transaction(void *argument) {
    std::unique_ptr<refresh_transaction> t(static_cast<refresh_transaction *>(argument));
    request_t *record = t->record;
    const clock_type::time_point start = clock_type::now();
    double interval = SIP_T1;
    clock_type::time_point next = start + span(interval);
    bool provisional = false;
    int32_t final_status = 0;
    clock_type::time_point final_at{};
    for (;;) {
        sip_response_t *responses = RequestResponsesTake(record, WAIT_SLICE_MS);
        for (sip_response_t *e = responses; e != nullptr; e = e->next) {
            const int32_t status = e->message.status;
            if (status < 200) {
                provisional = provisional || status >= 100;
                continue;
            }
            if (t->invite) {
                // Each copy of the final answer is acknowledged (sections 13.2.2.4 and 17.1.1.2).
                const std::string &ack = status < 300 ? t->ack_new : t->ack_same;
                RequestSendText(record, &record->via.address, ack.c_str());
            }
            if (final_status == 0) {
                final_status = status;
                final_at = clock_type::now();
                std::printf("Session refresh by %s answered %d\n",
                            t->invite ? "re-INVITE" : "UPDATE", status);
                report(*t, e);
            }
        }
        RequestResponsesFree(responses);
        const clock_type::time_point now = clock_type::now();
        if (final_status != 0) {
            if (!t->invite || now - final_at >= span(SIP_TIMER_B)) {
                break;
            }
            continue;
        }
        if (now - start >= span(t->invite ? SIP_TIMER_B : SIP_TIMER_F)) {
            std::printf("Session refresh unanswered: given up after %.0f s\n", SIP_TIMER_B);
            report(*t, nullptr);
            break;
        }
        // Timer A doubles without bound and stops at a provisional answer; timer E doubles up to
        // T2, and stays at T2 after one (RFC 3261 sections 17.1.1.2 and 17.1.2.2).
        if (now >= next && !(t->invite && provisional)) {
            if (ResponseSendSocket(record, t->text.c_str(), static_cast<int32_t>(t->text.size())) !=
                0) {
                report(*t, nullptr);
                break;
            }
            interval = t->invite     ? interval * 2
                       : provisional ? SIP_T2
                                     : std::min(interval * 2, SIP_T2);
            next = now + span(interval);
        }
    }
    RequestFree(record);
    return nullptr;
}

}  // namespace

bool RefreshPeerAllowsUpdate(const parser_t *message) {
    parser_header_t *h = RFC822_Find(message->headers, "Allow");
    for (parser_element_t *e = h != nullptr ? h->elements : nullptr; e != nullptr; e = e->next) {
        std::string_view method(e->element != nullptr ? e->element : "");
        const size_t first = method.find_first_not_of(" \t");
        method = first == std::string_view::npos ? std::string_view() : method.substr(first);
        method = method.substr(0, method.find_first_of(" \t"));
        if (method.size() == 6 && strncasecmp(method.data(), "UPDATE", 6) == 0) {
            return true;
        }
    }
    return false;
}

int RequestRefreshSend(request_t *r, bool invite, int32_t interval, const char *sdp,
                       const char *user, uint32_t token, refresh_done_t done) {
    const sip_gateway_t *gateway = SipGateway();
    std::snprintf(r->cseq.method, sizeof r->cseq.method, "%s", invite ? "INVITE" : "UPDATE");
    RequestDialogHeaders(r);
    headers_printf(&r->headers, 0, "Session-Expires", "%d;refresher=uac", interval);
    headers_add(&r->headers, "Supported", "timer");
    const bool offer = invite && sdp != nullptr && sdp[0] != '\0';
    if (invite) {
        // A re-INVITE refreshes the dialog's target too (RFC 3261 section 12.2.1.1).
        headers_printf(&r->headers, 0, "Contact", "<sip:%.*s@%.*s:%d>", 64,
                       user != nullptr ? user : "", 64, SipAdvertisedAddress(gateway),
                       SipAdvertisedPort(gateway));
        headers_add(&r->headers, "Allow", SIP_ALLOWED_METHODS);
        ResponseSetBody(r, offer ? sdp : nullptr, offer ? "application/sdp" : nullptr, -1);
    }
    char *text = RequestText(r);
    auto *t =
        new refresh_transaction{TransactionRecordCreate(r), invite, text, "", "", token, done};
    std::free(text);
    if (offer) {
        t->text += sdp;
    }
    if (invite) {
        char *branch = DialogNewBranch();
        t->ack_same = ack_of(t->text, r->cseq.number, "");
        t->ack_new = ack_of(t->text, r->cseq.number, branch);
        std::free(branch);
        offers_pending.fetch_add(1);
    }
    std::printf("Sending %s\n", r->cseq.method);
    const int sent =
        ResponseSendSocket(t->record, t->text.c_str(), static_cast<int32_t>(t->text.size()));
    thread_t thread{};
    if (sent != 0 || thread_create(&thread, nullptr, run_transaction, t) != 0) {
        if (invite) {
            offers_pending.fetch_sub(1);
        }
        RequestFree(t->record);
        delete t;
        return -1;
    }
    return 0;
}

bool RefreshOfferPending() {
    return offers_pending.load() > 0;
}

}  // namespace sipline
