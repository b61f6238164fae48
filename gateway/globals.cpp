#include "gateway/globals.h"

#include "gateway/board.h"
#include "gateway/call_states.h"

namespace sipline {

std::atomic<int32_t> CallState{ST_WTRING};
std::atomic<uint8_t> HangupSignalled{0};
std::atomic<request_t *> CurrentRequest{nullptr};
char *SdpOffer = nullptr;
const char *LocalAddress = nullptr;
uint16_t LocalPort = RTP_PORT;

char DialString[32] = "";
char RTPDestAddress[256] = "";
std::atomic<uint16_t> RTPDestPort{0};
std::atomic<uint8_t> RTPDestTTL{0};
std::atomic<int32_t> LineDevice{-1};

int PostLineEvent(int32_t type) {
    return srl_post_event(LineDevice, type, 0, nullptr, 0);
}

char HostName[255] = "";
char HostShortName[64] = "";
char HostAddress[25] = "";

HANDLE ScheduleThread = nullptr;
HANDLE ReceiveThread = nullptr;
HANDLE AudioThreads[2] = {nullptr, nullptr};

}  // namespace sipline
