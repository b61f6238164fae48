#include "sip/uas/gateway.h"

#include "sip/message/fields.h"
#include "sip/uas/call_lock.h"

namespace sipline {

namespace {

int admit_every_request(void *, request_t *) {
    return 0;
}

int ignore_no_source(void *, const sockaddr_in *) {
    return 0;
}

int no_registrar(void *, const sockaddr_in *) {
    return 0;
}
void count_no_request(void *, const char *) {}
void count_no_answer(void *, const char *, int32_t) {}

constexpr sip_gateway_t with_defaults(sip_gateway_t gateway) {
    if (gateway.AdmitRequest == nullptr) {
        gateway.AdmitRequest = admit_every_request;
    }
    if (gateway.IgnoreSource == nullptr) {
        gateway.IgnoreSource = ignore_no_source;
    }
    if (gateway.FromRegistrar == nullptr) {
        gateway.FromRegistrar = no_registrar;
    }
    if (gateway.RequestArrived == nullptr) {
        gateway.RequestArrived = count_no_request;
    }
    if (gateway.AnswerSent == nullptr) {
        gateway.AnswerSent = count_no_answer;
    }
    if (gateway.SipPort <= 0) {
        gateway.SipPort = SIP_PORT;
    }
    return gateway;
}

// Written once by SipGatewayRegister before ReceiveUDP starts the request threads, which
// only read it; the thread start orders the two. Constant-initialized, so that it holds its
// defaults before any other initialization runs.
constinit sip_gateway_t registered = with_defaults({});

// What a gateway that registers none of the media fields gets: storage of its own and a DTMF
// key that goes nowhere, so that the SIP side never tests for them.
media_description_t inert_media = MediaDescriptionEmpty();
char inert_answer[SDP_BODY_SIZE];
void ignore_digit(void *, char, int32_t) {}
void ignore_media(void *, const media_description_t *) {}
void ignore_refresh(void *, int32_t, int32_t) {}

void fill_inert(sip_gateway_t *g) {
    if (g->CallMedia == nullptr) {
        g->CallMedia = &inert_media;
    }
    if (g->SdpAnswer == nullptr) {
        g->SdpAnswer = inert_answer;
    }
    if (g->DigitReceived == nullptr) {
        g->DigitReceived = ignore_digit;
    }
    if (g->MediaChanged == nullptr) {
        g->MediaChanged = ignore_media;
    }
    if (g->SessionRefreshed == nullptr) {
        g->SessionRefreshed = ignore_refresh;
    }
}

std::mutex &call_mutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void SipGatewayRegister(const sip_gateway_t *gateway) {
    if (gateway != nullptr) {
        registered = with_defaults(*gateway);
    }
    fill_inert(&registered);
}

const sip_gateway_t *SipGateway() {
    return &registered;
}

std::unique_lock<std::mutex> CallLock() {
    return std::unique_lock<std::mutex>(call_mutex());
}

request_t *CurrentRequestExchange(request_t *record) {
    if (registered.CurrentRequest == nullptr) {
        return nullptr;
    }
    std::unique_lock<std::mutex> lock = CallLock();
    return registered.CurrentRequest->exchange(record);
}

}  // namespace sipline
