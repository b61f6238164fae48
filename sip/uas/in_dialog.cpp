#include "sip/uas/in_dialog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sip/sdp/offer_answer.h"
#include "sip/uas/dialog.h"
#include "sip/uas/gateway.h"
#include "sip/uas/refresh_client.h"
#include "sip/uas/response.h"
#include "sip/uas/session_timer.h"

namespace sipline {
namespace {

constexpr const char *kAccepted = "application/sdp, application/dtmf-relay, application/dtmf";

bool is(const char *method, const char *name) {
    return method != nullptr && strcmp(method, name) == 0;
}

// The answer, with extra header lines, released after it is sent; a 2xx to INVITE is sent again
// until its ACK (the caller has let go of CallLock).
void answer(request_t *r, int32_t status, const char *body, bool wait) {
    WaitForSingleObject(r->mutex, INFINITE);
    RequestSetStatus(r, status, nullptr);
    ResponseCopyHeaders(r);
    ResponseSetBody(r, body, body != nullptr ? "application/sdp" : nullptr, -1);
    ResponseSend(r, wait ? 1 : 0, 1);
}

// The session version of the gateway's o= line in an earlier description, else 0.
uint32_t version_of(const char *sdp) {
    const char *origin = sdp != nullptr ? strstr(sdp, "o=") : nullptr;
    unsigned long version = 0;
    if (origin == nullptr || sscanf(origin, "o=%*s %*s %lu", &version) != 1) {
        return 0;
    }
    return static_cast<uint32_t>(version);
}

// A description without its o= line, to tell a changed answer from the same one again.
std::string without_origin(const char *sdp) {
    std::string text = sdp != nullptr ? sdp : "";
    const size_t at = text.find("o=");
    if (at != std::string::npos) {
        text.erase(at, text.find('\n', at) - at);
    }
    return text;
}

}  // namespace

void InDialogOptions(request_t *r) {
    WaitForSingleObject(r->mutex, INFINITE);
    RequestSetStatus(r, 200, nullptr);
    ResponseCopyHeaders(r);
    headers_add(&r->headers, "Allow", SIP_ALLOWED_METHODS);
    headers_add(&r->headers, "Accept", kAccepted);
    headers_add(&r->headers, "Supported", "timer");
    ResponseSetBody(r, nullptr, nullptr, 0);
    ResponseSend(r, 0, 1);
}

void InDialogOffer(request_t *r, request_t *current, std::unique_lock<std::mutex> &lock) {
    const sip_gateway_t *gateway = SipGateway();
    // RFC 4028 section 10: a re-INVITE or UPDATE refreshes the session; one that asks for too
    // short an interval is refused and changes nothing.
    if (SessionTimerRead(&r->message, &r->session) == 422) {
        WaitForSingleObject(r->mutex, INFINITE);
        RequestSetStatus(r, 422, nullptr);
        ResponseCopyHeaders(r);
        headers_printf(&r->headers, 0, "Min-SE", "%d", SESSION_MIN_SE);
        ResponseSend(r, 0, 1);
        return;
    }
    const bool invite = is(r->message.method, "INVITE");
    const int32_t state = gateway->CallState != nullptr ? gateway->CallState->load() : ST_CLEANUP;
    // RFC 3261 section 14.2: an offer while one is under way either way (the gateway's own
    // re-INVITE refreshing the session, or while the call is still being set up) is 491; the
    // caller tries again after a while.
    const bool offered = r->body != nullptr && r->body[0] != '\0';
    if (current->reoffer_pending != 0 || state != ST_CLEANUP ||
        ((invite || offered) && RefreshOfferPending())) {
        printf("%s while an offer is under way: 491\n", r->message.method);
        answer(r, 491, nullptr, false);
        return;
    }
    if (!offered) {
        // A refresh without an offer: an UPDATE gets 200 alone; a re-INVITE gets the session as
        // it stands, and the media stay as they are whatever the ACK says.
        printf("%s without an offer: the session stays\n", r->message.method);
        gateway->SessionRefreshed(gateway->context, r->session.interval, r->session.uas_refreshes);
        std::string last = gateway->SdpAnswer;
        current->reoffer_pending = invite ? 1 : 0;
        lock.unlock();
        answer(r, 200, invite && !last.empty() ? last.c_str() : nullptr, invite);
        lock.lock();
        current->reoffer_pending = 0;
        return;
    }
    const uint32_t before = version_of(gateway->SdpAnswer);
    sdp_local_t local{SipAdvertisedAddress(gateway), gateway->MediaPort, gateway->Codecs,
                      gateway->CodecCount, before};
    media_description_t media = MediaDescriptionEmpty();
    char *text = nullptr;
    int status = SdpAnswerOffer(r->body, &local, &media, &text);
    // RFC 3264 section 8: a changed description carries the next version; the same one again
    // (a session refresh) keeps it.
    if (status == 200 && without_origin(text) != without_origin(gateway->SdpAnswer)) {
        free(text);
        local.version = before + 1;
        status = SdpAnswerOffer(r->body, &local, &media, &text);
    }
    if (status != 200 || strlen(text) >= static_cast<size_t>(SDP_BODY_SIZE)) {
        // RFC 3261 section 14.2: a refused offer leaves the session as it was.
        printf("%s offer refused %d: the session stays\n", r->message.method,
               status == 200 ? 488 : status);
        free(text);
        answer(r, status == 200 ? 488 : status, nullptr, false);
        return;
    }
    snprintf(gateway->SdpAnswer, SDP_BODY_SIZE, "%s", text);
    printf("%s: %s sent to %s:%d, direction %d\n", r->message.method,
           SdpCodecName(media.send_codec), media.address, media.port,
           static_cast<int>(media.direction));
    gateway->MediaChanged(gateway->context, &media);
    gateway->SessionRefreshed(gateway->context, r->session.interval, r->session.uas_refreshes);
    current->reoffer_pending = invite ? 1 : 0;
    lock.unlock();
    answer(r, 200, text, invite);
    free(text);
    lock.lock();
    current->reoffer_pending = 0;
}

}  // namespace sipline
