#include "gateway/globals.h"

#include "board/board.h"
#include "sip/uas/gateway.h"

namespace sipline {

std::atomic<int32_t> CallState{ST_WTRING};
std::atomic<uint8_t> HangupSignalled{0};
std::atomic<request_t *> CurrentRequest{nullptr};
const char *SdpOffer = nullptr;
char SdpAnswer[SDP_BODY_SIZE] = "";
char AdvertisedAddress[HOST_ADDRESS_SIZE] = "";
int8_t GatewayCodecs[SDP_CODEC_COUNT] = {};
int32_t GatewayCodecCount = 0;

char DialString[DIAL_STRING_SIZE] = "";
std::atomic<int32_t> LineDevice{-1};

int PostLineEvent(int32_t type) {
    return srl_post_event(LineDevice, type, 0, nullptr, 0);
}

char HostName[HOST_NAME_SIZE] = "";
char HostShortName[HOST_SHORT_NAME_SIZE] = "";
char HostAddress[HOST_ADDRESS_SIZE] = "";

HANDLE ScheduleThread = nullptr;
HANDLE ReceiveThread = nullptr;
HANDLE AudioThreads[2] = {nullptr, nullptr};

}  // namespace sipline
