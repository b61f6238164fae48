#include "gateway/registration.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "gateway/watch.h"
#include "sip/message/parser.h"
#include "sip/message/uri.h"
#include "sip/uas/credentials.h"
#include "sip/uas/dialog.h"
#include "sip/uas/gateway.h"
#include "sip/uas/invite_client.h"
#include "sip/uas/register.h"
#include "sip/uas/register_answer.h"
#include "sip/uas/request.h"
#include "sip/uas/rport.h"
#include "sip/uas/transport.h"

namespace sipline {
namespace {

using clock_type = std::chrono::steady_clock;
using seconds = std::chrono::duration<double>;

clock_type::duration span(double s) {
    return std::chrono::duration_cast<clock_type::duration>(seconds(s));
}

// How often a waiting transaction looks at its queue and at the stop request.
constexpr uint32_t SLICE_MS = 100;
// OPTIONS without any answer before the registrar is taken for gone.
constexpr int32_t LOST_KEEPALIVES = 3;
// 423 answers followed in one attempt; each must ask more than the last.
constexpr int32_t INTERVAL_TRIES = 3;
// How long the exit waits for the answer to its expires=0.
constexpr double UNREGISTER_SECONDS = 4;
// How long the thread waits at its start for the SIP listener's socket.
constexpr double LISTENER_WAIT_SECONDS = 5;

// The registrar's and the proxy's addresses (network order, 0 unknown), for
// RegistrationFromRegistrar on request threads. Written by the registration thread each time it
// resolves them; each is read alone, so nothing else needs ordering with them.
std::atomic<uint32_t> registrar_address{0};
std::atomic<uint32_t> proxy_address{0};

uint32_t resolved(const std::string &uri) {
    sip_register_t alone{uri.c_str(), "", nullptr};
    sockaddr_in to{};
    return !uri.empty() && RegisterAim(&alone, &to) == 0 ? to.sin_addr.s_addr : 0;
}

// One final response, kept after its queue is released.
struct final_answer_t {
    parser_t message{};
    int32_t status = 0;  // 0: none came
    final_answer_t() { message.status = -1; }
    ~final_answer_t() { MessageFree(&message); }
    final_answer_t(const final_answer_t &) = delete;
    final_answer_t &operator=(const final_answer_t &) = delete;
    void take(const parser_t *response) {
        MessageFree(&message);
        message = parser_t{};
        MessageDuplicate(&message, response);
        status = response->status;
    }
    std::string text() const {
        return std::to_string(status) + " " + (message.reason != nullptr ? message.reason : "");
    }
};

// 16 hex digits drawn as a branch is.
std::string random_word() {
    char *branch = DialogNewBranch();
    std::string word(branch + std::strlen(BRANCH_COOKIE));
    std::free(branch);
    return word;
}

std::string wall_clock_in(int32_t s) {
    const std::time_t at = std::time(nullptr) + s;
    std::tm parts{};
    gmtime_r(&at, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// What the status and metrics show: a word and a line of detail. Written by the registration
// thread and the exit handler, read by the service's threads.
std::mutex shown_mutex;
const char *shown_state = "not configured";
std::string shown_detail;

void show(const char *state, const std::string &detail) {
    std::lock_guard<std::mutex> lock(shown_mutex);
    shown_state = state;
    shown_detail = detail;
}

class registration {
  public:
    explicit registration(const gateway_settings_t &settings);
    void start() {
        thread_ = std::thread([this] { run(); });
    }
    void stop();

  private:
    void run();
    bool register_once(int32_t *granted, std::string *why);
    bool exchange(int32_t expires, const char *header, const char *credentials, double limit,
                  final_answer_t *answer, std::string *why);
    // Returns when the refresh is due, the keep-alives went unanswered, or stop() was called.
    void stay_registered(int32_t granted);
    bool probe_answered(request_t **probe);
    void send_probe(request_t **probe);
    // Waits until `until` or stop(); false when stopped.
    bool sleep_until(clock_type::time_point until);
    void unregister();
    void failed(const std::string &why);
    // After a 2xx: true when its top Via shows a NAT between the gateway and the registrar that
    // the Contact just registered does not account for; the new address is then announced.
    bool learned_address(const parser_t *response, const std::string &contact);

    std::string registrar_;
    std::string user_;
    std::string password_;
    std::string proxy_;
    std::string aor_;
    sip_register_t reg_{};  // points into the texts above
    int32_t keepalive_;
    // Everything below is the registration thread's alone until stop() has joined it.
    int32_t requested_;  // raised by a 423's Min-Expires
    std::string call_id_;
    std::string probe_call_id_;
    uint32_t cseq_ = 0;
    uint32_t probe_cseq_ = 0;
    int32_t failures_ = 0;
    clock_type::time_point bound_until_{};  // the binding stands until then
    // The Contact registered before a NAT's address was learned, removed by the next REGISTER.
    std::string dropped_contact_;
    bool relearning_ = false;  // the last 2xx taught an address: the next does not re-register
    // stop() sets stopping_ under mutex_ and notifies wake_; the thread tests stopping_ in every
    // wait (a wake-up without it set is a time-out, or spurious, and it waits on).
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

registration::registration(const gateway_settings_t &settings)
    : registrar_(settings.registration.registrar),
      user_(settings.registration.user.empty() ? settings.outbound.user
                                               : settings.registration.user),
      password_(settings.registration.user.empty() ? settings.outbound.password
                                                   : settings.registration.password),
      proxy_(settings.registration.outbound_proxy),
      keepalive_(settings.registration.keepalive),
      requested_(settings.registration.expires) {
    reg_ = sip_register_t{registrar_.c_str(), user_.c_str(), proxy_.c_str()};
    // RFC 3261 section 10.2.4: one Call-ID for every REGISTER of this run, CSeq counting up.
    call_id_ = random_word() + "@sipline";
    probe_call_id_ = random_word() + "@sipline";
    uri_t registrar = URI_Parse(registrar_.c_str());
    aor_ = "sip:" + user_ + "@" + (registrar.host != nullptr ? registrar.host : "");
    URI_Free(&registrar);
}

void registration::run() {
    const clock_type::time_point listener_wait = clock_type::now() + span(LISTENER_WAIT_SECONDS);
    while (SipListeningSocket() < 0 && clock_type::now() < listener_wait &&
           sleep_until(clock_type::now() + std::chrono::milliseconds(SLICE_MS))) {
    }
    while (!stopping_.load()) {
        int32_t granted = 0;
        std::string why;
        if (!register_once(&granted, &why)) {
            if (stopping_.load()) {
                break;
            }
            failed(why);
            sleep_until(clock_type::now() + std::chrono::seconds(RegisterRetryDelay(failures_)));
            continue;
        }
        failures_ = 0;
        bound_until_ = clock_type::now() + std::chrono::seconds(granted);
        if (!dropped_contact_.empty() && !relearning_) {
            dropped_contact_.clear();
            reg_.dropped_contact = nullptr;
        }
        if (relearning_) {
            continue;  // at once, with the Contact the registrar can reach
        }
        std::printf("Registration: registered as %s until %s (granted %d s, refresh in %d s)\n",
                    aor_.c_str(), wall_clock_in(granted).c_str(), granted,
                    RegisterRefreshDelay(granted));
        show("registered", aor_ + " until " + wall_clock_in(granted));
        stay_registered(granted);
    }
}

void registration::failed(const std::string &why) {
    failures_ += 1;
    const int32_t delay = RegisterRetryDelay(failures_);
    std::fprintf(stderr, "Registration of %s at %s failed: %s\n", aor_.c_str(), registrar_.c_str(),
                 why.c_str());
    const bool standing = clock_type::now() < bound_until_;
    std::printf("Registration: failed (%s)%s; next attempt in %d s\n", why.c_str(),
                standing ? ", the last binding still stands" : ", not registered", delay);
    show("failed", why + "; next attempt at " + wall_clock_in(delay));
}

bool registration::register_once(int32_t *granted, std::string *why) {
    int32_t expires = requested_;
    final_answer_t answer;
    if (!exchange(expires, nullptr, nullptr, SIP_TIMER_F, &answer, why)) {
        return false;
    }
    bool challenged = false;
    int32_t interval_tries = 0;
    for (;;) {
        const int32_t status = answer.status;
        if ((status == 401 || status == 407) && !challenged) {
            // Every challenge is answered once, stale or not (a registrar that forgot its nonce
            // may not say stale=true); the same challenge twice means the credentials are wrong.
            challenged = true;
            const char *header = nullptr;
            char *credentials = nullptr;
            if (RequestCredentials(&answer.message, user_.c_str(), password_.c_str(), "REGISTER",
                                   registrar_.c_str(), &header, &credentials) != 0) {
                *why = answer.text() + " with a challenge that cannot be answered";
                return false;
            }
            const bool sent = exchange(expires, header, credentials, SIP_TIMER_F, &answer, why);
            std::free(credentials);
            if (!sent) {
                return false;
            }
            continue;
        }
        if (status == 401 || status == 407) {
            *why = answer.text() + ": the credentials of " + user_ + " were refused";
            return false;
        }
        if (status == 423) {
            const int32_t least = RegisterMinExpires(&answer.message, expires);
            if (least < 0 || ++interval_tries > INTERVAL_TRIES) {
                *why = answer.text() + " without a usable Min-Expires (more than " +
                       std::to_string(expires) + " s, at most " +
                       std::to_string(REGISTER_EXPIRES_MAX) + " s)";
                return false;
            }
            std::printf("Registration: %s: asking %d s instead of %d s\n", answer.text().c_str(),
                        least, expires);
            expires = least;
            requested_ = least;
            challenged = false;
            if (!exchange(expires, nullptr, nullptr, SIP_TIMER_F, &answer, why)) {
                return false;
            }
            continue;
        }
        if (status < 200 || status >= 300) {
            *why = answer.text() +
                   (status >= 300 && status < 400 ? " (redirects are not followed)" : "");
            return false;
        }
        char contact[256];
        char *own = RegisterContact(&reg_);
        std::snprintf(contact, sizeof contact, "%s", own);
        std::free(own);
        char how = 'n';
        *granted = RegisterGranted(&answer.message, contact, expires, &how);
        if (*granted < 0) {
            *why = answer.text() + " with an expiry that is not a number of seconds";
            return false;
        }
        if (*granted == 0) {
            *why = answer.text() + " granting 0 s: the registrar kept no binding";
            return false;
        }
        if (how == 'n') {
            std::fprintf(stderr,
                         "Registration: the registrar's 200 gives no expiry; taking the %d s "
                         "asked for\n",
                         expires);
        }
        relearning_ = !relearning_ && learned_address(&answer.message, contact);
        return true;
    }
}

bool registration::learned_address(const parser_t *response, const std::string &contact) {
    const sip_gateway_t *gateway = SipGateway();
    if (gateway->ExternalAddress != nullptr && gateway->ExternalAddress[0] != '\0') {
        return false;  // the owner said what to announce
    }
    parser_header_t *via = RFC822_FindEither(response->headers, "Via", "v");
    sockaddr_in seen{};
    if (via == nullptr || via->elements == nullptr ||
        ViaReceivedAt(via->elements->element, &seen) == 0) {
        return false;
    }
    if (seen.sin_port == 0) {
        seen.sin_port = htons(static_cast<uint16_t>(SipAdvertisedPort(gateway)));
    }
    char address[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &seen.sin_addr, address, sizeof address);
    const int32_t port = ntohs(seen.sin_port);
    if (std::string_view(SipAdvertisedAddress(gateway)) == address &&
        SipAdvertisedPort(gateway) == port) {
        return false;
    }
    SipLearnPublicAddress(&seen);
    if (std::string_view(SipAdvertisedAddress(gateway)) != address) {
        return false;  // no more learning
    }
    std::printf(
        "Registration: the registrar sees the gateway at %s:%d (a NAT between them); "
        "registering that address\n",
        address, port);
    dropped_contact_ = contact;
    reg_.dropped_contact = dropped_contact_.c_str();
    return true;
}

bool registration::exchange(int32_t expires, const char *header, const char *credentials,
                            double limit, final_answer_t *answer, std::string *why) {
    sockaddr_in to{};
    if (RegisterAim(&reg_, &to) != 0) {
        *why = "the host of " + (proxy_.empty() ? registrar_ : proxy_) + " does not resolve";
        return false;
    }
    registrar_address = resolved(registrar_);
    proxy_address = proxy_.empty() ? 0 : to.sin_addr.s_addr;
    const int socket = SipListeningSocket();
    if (socket < 0) {
        *why = "the SIP listener does not run";
        return false;
    }
    const char *branch = nullptr;
    request_t *r = RequestClientCreate(call_id_.c_str(), ++cseq_, "REGISTER", socket, &branch);
    char *text = RegisterText(&reg_, call_id_.c_str(), cseq_, branch, expires, header, credentials);
    const clock_type::time_point start = clock_type::now();
    // Timer E (RFC 3261 section 17.1.2.2): T1 doubling to T2, then T2 once a provisional came.
    double interval = SIP_T1;
    clock_type::time_point next = start + span(interval);
    bool provisional = false;
    answer->status = 0;
    RequestSendText(r, &to, text);
    // At the exit the expires=0 is the transaction that must go on while stopping_ is set.
    const bool ending = expires == 0;
    while (answer->status == 0 && (ending || !stopping_.load())) {
        sip_response_t *responses = RequestResponsesTake(r, SLICE_MS);
        for (sip_response_t *e = responses; e != nullptr && answer->status == 0; e = e->next) {
            if (e->message.status >= 200) {
                answer->take(&e->message);
            } else {
                provisional = true;
            }
        }
        RequestResponsesFree(responses);
        const clock_type::time_point now = clock_type::now();
        if (answer->status != 0 || now - start >= span(limit)) {
            break;
        }
        if (now >= next) {
            RequestSendText(r, &to, text);
            interval = provisional ? SIP_T2 : std::min(interval * 2, SIP_T2);
            next = now + span(interval);
        }
    }
    std::free(text);
    RequestFree(r);
    if (answer->status == 0) {
        *why = stopping_.load() && !ending
                   ? "stopped"
                   : "no answer from " + std::string(proxy_.empty() ? registrar_ : proxy_) +
                         " within " + std::to_string(int(limit)) + " s";
        return false;
    }
    return true;
}

bool registration::sleep_until(clock_type::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_until(lock, until, [this] { return stopping_.load(); });
    return !stopping_.load();
}

void registration::send_probe(request_t **probe) {
    sockaddr_in to{};
    const int socket = SipListeningSocket();
    if (socket < 0 || RegisterAim(&reg_, &to) != 0) {
        return;
    }
    const char *branch = nullptr;
    *probe = RequestClientCreate(probe_call_id_.c_str(), ++probe_cseq_, "OPTIONS", socket, &branch);
    char *text = RegisterOptionsText(&reg_, probe_call_id_.c_str(), probe_cseq_, branch);
    RequestSendText(*probe, &to, text);
    std::free(text);
}

// Any answer, whatever its status, shows that the registrar is there and the way open.
bool registration::probe_answered(request_t **probe) {
    if (*probe == nullptr) {
        return false;
    }
    sip_response_t *responses = RequestResponsesTake(*probe, 0);
    const bool answered = responses != nullptr;
    RequestResponsesFree(responses);
    RequestFree(*probe);
    *probe = nullptr;
    return answered;
}

void registration::stay_registered(int32_t granted) {
    const clock_type::time_point refresh =
        clock_type::now() + std::chrono::seconds(RegisterRefreshDelay(granted));
    request_t *probe = nullptr;
    int32_t lost = 0;
    while (!stopping_.load()) {
        const clock_type::time_point probe_at =
            keepalive_ > 0 ? clock_type::now() + std::chrono::seconds(keepalive_) : refresh;
        if (!sleep_until(std::min(refresh, probe_at)) || clock_type::now() >= refresh) {
            break;
        }
        if (probe != nullptr) {
            lost = probe_answered(&probe) ? 0 : lost + 1;
        }
        if (lost >= LOST_KEEPALIVES) {
            std::fprintf(stderr, "Registration: %d keep-alives to %s unanswered\n", lost,
                         registrar_.c_str());
            std::printf("Registration: %d keep-alives unanswered; registering again\n", lost);
            break;
        }
        send_probe(&probe);
    }
    RequestFree(probe);
}

void registration::unregister() {
    if (clock_type::now() >= bound_until_) {
        return;
    }
    final_answer_t answer;
    std::string why;
    bool sent = exchange(0, nullptr, nullptr, UNREGISTER_SECONDS, &answer, &why);
    if (sent && (answer.status == 401 || answer.status == 407)) {
        const char *header = nullptr;
        char *credentials = nullptr;
        if (RequestCredentials(&answer.message, user_.c_str(), password_.c_str(), "REGISTER",
                               registrar_.c_str(), &header, &credentials) == 0) {
            sent = exchange(0, header, credentials, UNREGISTER_SECONDS, &answer, &why);
            std::free(credentials);
        }
    }
    if (sent && answer.status >= 200 && answer.status < 300) {
        std::printf("Registration: unregistered %s\n", aor_.c_str());
        show("unregistered", aor_);
    } else {
        const std::string reason = sent ? answer.text() : why;
        std::fprintf(stderr, "Registration: unregistering %s failed: %s\n", aor_.c_str(),
                     reason.c_str());
        std::printf("Registration: unregistering failed (%s)\n", reason.c_str());
    }
}

void registration::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
        unregister();
    }
}

// Made by RegistrationStart on the main thread; taken by the first RegistrationStop (the exit
// handler, from whichever thread ends the process). Both under running_mutex.
std::mutex running_mutex;
std::unique_ptr<registration> running;

}  // namespace

void RegistrationStart(const gateway_settings_t &settings) {
    std::lock_guard<std::mutex> lock(running_mutex);
    if (settings.registration.registrar.empty() || running != nullptr) {
        return;
    }
    show("registering", "at " + settings.registration.registrar);
    running = std::make_unique<registration>(settings);
    running->start();
}

void GatewayRegistration(const char **state, char *detail, size_t size) {
    std::lock_guard<std::mutex> lock(shown_mutex);
    *state = shown_state;
    if (size > 0) {
        std::snprintf(detail, size, "%s", shown_detail.c_str());
    }
}

void RegistrationStop() {
    std::unique_ptr<registration> taken;
    {
        std::lock_guard<std::mutex> lock(running_mutex);
        taken = std::move(running);
    }
    if (taken != nullptr) {
        taken->stop();
    }
}

int RegistrationFromRegistrar(const sockaddr_in *source) {
    const uint32_t from = source->sin_addr.s_addr;
    return from != 0 && (from == registrar_address.load() || from == proxy_address.load()) ? 1 : 0;
}

}  // namespace sipline
