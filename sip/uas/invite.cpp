#include "sip/uas/invite.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <strings.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/board.h"
#include "sip/sdp/offer_answer.h"
#include "sip/uas/gateway.h"
#include "sip/uas/response.h"
#include "sip/uas/session_timer.h"

namespace sipline {

namespace {

// Room for the number as the To user part gives it.
constexpr size_t kNumberSize = 24;

// Sends one answer without waiting; the record stays with the caller.
void answer(request_t *r, int32_t status) {
    ResponseAnswer(r, status, nullptr, nullptr, 0, 0, 0);
}

void post(const sip_gateway_t *gateway, int32_t type) {
    if (gateway->PostEvent != nullptr) {
        gateway->PostEvent(gateway->context, type);
    }
}

// The INVITE is refused before the line is touched; the state machine is woken to clean up.
void refuse_number(const sip_gateway_t *gateway, request_t *r, const char *why,
                   int32_t status = 404) {
    printf("%s", why);
    answer(r, status);
    if (gateway->CallState != nullptr) {
        gateway->CallState->store(ST_CLEANUP);
    }
    post(gateway, EV_WAKEUP);
}

// A dotted address names this host when the host holds it: the address its name resolves to,
// or the address of any of its interfaces, which is what a caller on another network reaches.
bool is_own_address(const sip_gateway_t *gateway, const char *host) {
    in_addr wanted{};
    if (inet_pton(AF_INET, host, &wanted) != 1) {
        return false;
    }
    in_addr own{};
    if (gateway->HostAddress != nullptr && inet_pton(AF_INET, gateway->HostAddress, &own) == 1 &&
        own.s_addr == wanted.s_addr) {
        return true;
    }
    ifaddrs *interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return false;
    }
    bool found = false;
    for (ifaddrs *i = interfaces; i != nullptr && !found; i = i->ifa_next) {
        found = i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET &&
                reinterpret_cast<sockaddr_in *>(i->ifa_addr)->sin_addr.s_addr == wanted.s_addr;
    }
    freeifaddrs(interfaces);
    return found;
}

bool names_us(const sip_gateway_t *gateway, const char *host) {
    auto same = [host](const char *name) { return name != nullptr && strcmp(host, name) == 0; };
    return host != nullptr &&
           (same(gateway->HostName) || same(gateway->HostShortName) ||
            (same(gateway->ExternalAddress) && host[0] != '\0') || is_own_address(gateway, host));
}

// RFC 4028 section 8.1: a session interval below the gateway's minimum is refused with the
// minimum, before the line is touched.
void refuse_too_brief(const sip_gateway_t *gateway, request_t *r) {
    printf("Session interval too small\n");
    RequestSetStatus(r, 422, nullptr);
    ResponseCopyHeaders(r);
    headers_printf(&r->headers, 0, "Min-SE", "%d", SESSION_MIN_SE);
    ResponseSend(r, 0, 0);
    if (gateway->CallState != nullptr) {
        gateway->CallState->store(ST_CLEANUP);
    }
    post(gateway, EV_WAKEUP);
}

bool is_sdp(const char *content_type) {
    return content_type == nullptr || strncasecmp(content_type, "application/sdp", 15) == 0;
}

// The caller's offer answered (RFC 3264 section 6) into the call's media and the 200's body; an
// INVITE without one leaves the answer empty, and the 200 carries the gateway's own offer
// (RFC 3261 section 13.2.1). The status to refuse the INVITE with, or 0.
int32_t answer_offer(const sip_gateway_t *gateway, const request_t *r) {
    media_description_t media = MediaDescriptionEmpty();
    gateway->SdpAnswer[0] = '\0';
    if (r->body == nullptr || r->body[0] == '\0') {
        *gateway->CallMedia = media;
        printf("No offer: the 200 carries ours\n");
        return 0;
    }
    if (!is_sdp(r->content_type)) {
        return 415;
    }
    const sdp_local_t local{SipAdvertisedAddress(gateway), gateway->MediaPort, gateway->Codecs,
                            gateway->CodecCount};
    char *text = nullptr;
    const int status = SdpAnswerOffer(r->body, &local, &media, &text);
    if (status != 200) {
        return status;
    }
    const size_t length = strlen(text);
    const bool fits = length < static_cast<size_t>(SDP_BODY_SIZE);
    if (fits) {
        memcpy(gateway->SdpAnswer, text, length + 1);
    }
    free(text);
    if (!fits) {
        return 488;
    }
    *gateway->CallMedia = media;
    if (gateway->RTPDestAddress != nullptr) {
        snprintf(gateway->RTPDestAddress, RTP_DEST_ADDRESS_SIZE, "%s", media.address);
    }
    if (gateway->RTPDestPort != nullptr) {
        gateway->RTPDestPort->store(media.port);
    }
    if (gateway->RTPDestTTL != nullptr) {
        gateway->RTPDestTTL->store(media.ttl);
    }
    printf("Offer answered: %s sent to %s:%d, telephone-event %d\n", SdpCodecName(media.send_codec),
           media.address, media.port, media.event_payload_type);
    return 0;
}

char *copy_text(const char *text) {
    return text == nullptr ? nullptr : strdup(text);
}

}  // namespace

void RequestCopy(request_t *target, request_t *source) {
    RequestSetStatus(target, source->status, source->reason);
    MessageFree(&target->message);
    MessageDuplicate(&target->message, &source->message);
    target->via.address = source->via.address;
    target->destination = source->destination;
    target->source = source->source;
    target->socket = source->socket;
    target->rport = source->rport;
    target->session = source->session;
    target->cseq = source->cseq;
    free(target->call_id);
    target->call_id = copy_text(source->call_id);
    free(target->to_tag);
    target->to_tag = copy_text(source->to_tag);
    target->to_tag_received = source->to_tag_received;
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

const char *InviteNumber(const char *user) {
    return user == nullptr ? "" : strncmp(user, "kx", 2) == 0 ? "26" : user;
}

bool InviteRouted(const request_t *r) {
    const sip_gateway_t *gateway = SipGateway();
    const char *contact_user = gateway->ContactUser;
    if (contact_user == nullptr || contact_user[0] == '\0') {
        return false;
    }
    const uri_t &target = r->message.uri;
    if (target.user != nullptr && strcmp(target.user, contact_user) == 0 &&
        names_us(gateway, target.host)) {
        return true;
    }
    return gateway->FromRegistrar(gateway->context, &r->source) != 0;
}

const char *InviteNumberUser(const request_t *r) {
    // A PBX that routes a call here names the number in the Request-URI (it rewrote it) or
    // leaves it in To, as the caller dialled it.
    const char *user = SipGateway()->NumberFromRequestUri != 0 && InviteRouted(r)
                           ? r->message.uri.user
                           : r->to.uri.user;
    return user != nullptr ? user : "";
}

int InviteHandle(request_t *r) {
    const sip_gateway_t *gateway = SipGateway();
    printf("Method entered\n");
    const bool routed = InviteRouted(r);
    if (!routed && !names_us(gateway, r->to.uri.host)) {
        printf("Request not for us\n");
        answer(r, 400);
        return 0;
    }
    if (gateway->CallState != nullptr) {
        gateway->CallState->store(ST_SIPINV);
    }
    if (routed) {
        printf("Call routed by the registrar: number from %s\n",
               gateway->NumberFromRequestUri != 0 ? "the Request-URI" : "To");
    }
    const char *user = InviteNumberUser(r);
    if (strlen(user) >= kNumberSize) {
        refuse_number(gateway, r, "Dialstr too long\n");
        return 0;
    }
    char number[kNumberSize];
    snprintf(number, sizeof number, "%s", InviteNumber(user));
    if (atoi(number) < 1) {
        refuse_number(gateway, r, "Dialstr is not a number\n");
        return 0;
    }
    if (gateway->DialString != nullptr) {
        snprintf(gateway->DialString, DIAL_STRING_SIZE, "%s", number);
    }
    if (SessionTimerRead(&r->message, &r->session) == 422) {
        refuse_too_brief(gateway, r);
        return 0;
    }
    if (const int32_t refused = answer_offer(gateway, r); refused != 0) {
        refuse_number(gateway, r,
                      refused == 415   ? "Body is not SDP\n"
                      : refused == 400 ? "Offer is no session description\n"
                                       : "No codec in common\n",
                      refused);
        return 0;
    }
    printf("application/sdp OK\n");

    // The caller holds CallLock, so the record cannot be exchanged under us.
    request_t *current =
        gateway->CurrentRequest != nullptr ? gateway->CurrentRequest->load() : nullptr;
    if (current == nullptr && gateway->CurrentRequest != nullptr) {
        current = RequestCreate(TRANSPORT_UDP, -1, nullptr);
        gateway->CurrentRequest->store(current);
    }
    if (current != nullptr) {
        current->cancelled = 0;
        RequestCopy(current, r);
    }

    printf("Sending 100 response\n");
    printf("Sending bytes to socket %d via %s\n", r->socket, "UDP");
    answer(r, 100);
    post(gateway, EV_WAKEUP);
    return 0;
}

}  // namespace sipline
