#include "gateway/sip_side.h"

#include <netinet/in.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "gateway/globals.h"
#include "gateway/policy.h"
#include "gateway/registration.h"
#include "gateway/session_refresh.h"
#include "gateway/watch.h"
#include "media/line_digits.h"
#include "media/media_update.h"
#include "sip/uas/gateway.h"
#include "sip/uas/request.h"
#include "sip/uas/status.h"
#include "sip/uas/transport.h"

namespace sipline::sip_side {
namespace {

void post_to_line(void *, int32_t type) {
    PostLineEvent(type);
}

void media_changed(void *, const media_description_t *media) {
    MediaUpdate(*media);
}

void session_refreshed(void *, int32_t interval, int32_t gateway_refreshes) {
    SessionTimerArm(interval, gateway_refreshes != 0);
    SessionTimerWake();
}

void digit_to_line(void *, char key, int32_t duration_ms) {
    if (!MediaQueueDigit(key, duration_ms)) {
        std::printf("DTMF %c dropped: too many keys queued\n", key);
    }
}

void request_arrived(void *, const char *method) {
    GatewayWatch()->SipRequest(GatewayWatch()->context, method);
}

void answer_sent(void *, const char *method, int32_t status) {
    GatewayWatch()->SipAnswer(GatewayWatch()->context, method, status);
}

double monotonic_seconds() {
    using seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int admit_request(void *policy, request_t *r) {
    return PolicyAdmitRequest(static_cast<gateway_policy_t *>(policy), r, monotonic_seconds()) ==
                   POLICY_ADMIT
               ? 0
               : -1;
}

int from_registrar(void *, const sockaddr_in *source) {
    return RegistrationFromRegistrar(source);
}

int ignore_source(void *policy, const sockaddr_in *source) {
    return PolicyIgnores(static_cast<gateway_policy_t *>(policy), ntohl(source->sin_addr.s_addr),
                         monotonic_seconds())
               ? 1
               : 0;
}

}  // namespace

void Connect(gateway_policy_t *policy, const gateway_settings_t *settings) {
    StatusTextInit();
    sip_gateway_t gateway{};
    gateway.CallState = &CallState;
    gateway.CurrentRequest = &CurrentRequest;
    gateway.HangupSignalled = &HangupSignalled;
    gateway.DialString = DialString;
    gateway.RTPDestAddress = RTPDestAddress;
    gateway.RTPDestPort = &RTPDestPort;
    gateway.RTPDestTTL = &RTPDestTTL;
    gateway.CallMedia = &CallMedia;
    gateway.SdpAnswer = SdpAnswer;
    gateway.MediaPort = RTP_PORT;
    gateway.DigitReceived = digit_to_line;
    gateway.MediaChanged = media_changed;
    gateway.SessionRefreshed = session_refreshed;
    gateway.HostName = HostName;
    gateway.HostShortName = HostShortName;
    gateway.HostAddress = HostAddress;
    // Only an address the owner set: without one, what a registrar sees of a NAT is announced.
    gateway.ExternalAddress =
        std::strcmp(AdvertisedAddress, HostAddress) != 0 ? AdvertisedAddress : "";
    gateway.Codecs = GatewayCodecs;
    gateway.CodecCount = GatewayCodecCount;
    gateway.PostEvent = post_to_line;
    gateway.RequestArrived = request_arrived;
    gateway.AnswerSent = answer_sent;
    gateway.context = nullptr;
    if (settings != nullptr) {
        gateway.SipPort = settings->sip.port;
        // A line registered to a PBX calls out through it with the same account, unless
        // [outbound] names another.
        const bool own = !settings->outbound.user.empty();
        gateway.OutboundUser =
            own ? settings->outbound.user.c_str() : settings->registration.user.c_str();
        gateway.OutboundPassword =
            own ? settings->outbound.password.c_str() : settings->registration.password.c_str();
        if (!settings->registration.registrar.empty()) {
            gateway.ContactUser = settings->registration.user.empty()
                                      ? settings->outbound.user.c_str()
                                      : settings->registration.user.c_str();
            gateway.FromRegistrar = from_registrar;
        }
        gateway.NumberFromRequestUri = settings->registration.number_from == "request-uri";
        gateway.AnswerOptions = settings->file.empty() ? 0 : 1;
    }
    if (policy != nullptr) {
        gateway.AdmitRequest = admit_request;
        gateway.IgnoreSource = ignore_source;
        gateway.admission = policy;
    }
    SipGatewayRegister(&gateway);
}

void NewCurrentRequest() {
    // Transport UDP, no socket, an empty address: the INVITE that is accepted fills it.
    sockaddr_in empty{};
    RequestFree(CurrentRequestExchange(RequestCreate(TRANSPORT_UDP, 0, &empty)));
}

void DropCurrentRequest() {
    RequestFree(CurrentRequestExchange(nullptr));
}

uint32_t ReceiveUDPThread(void *port) {
    ReceiveUDP(port);
    return 0;
}

}  // namespace sipline::sip_side
