#include "gateway/sip_side.h"

#include <netinet/in.h>

#include <cstdio>

#include "gateway/globals.h"
#include "gateway/session_refresh.h"
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
}

void digit_to_line(void *, char key, int32_t duration_ms) {
    if (!MediaQueueDigit(key, duration_ms)) {
        std::printf("DTMF %c dropped: too many keys queued\n", key);
    }
}

}  // namespace

void Connect() {
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
    gateway.PostEvent = post_to_line;
    gateway.context = nullptr;
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
