#include "gateway/globals.h"

namespace sipline {

std::atomic<int32_t> CallState{ST_WTRING};
std::atomic<uint8_t> HangupSignalled{0};
std::atomic<request_t *> CurrentRequest{nullptr};
char *SdpOffer = nullptr;
const char *LocalAddress = nullptr;
uint16_t LocalPort = RTP_PORT;

char HostName[255] = "";
char HostShortName[64] = "";
char HostAddress[25] = "";

HANDLE ScheduleThread = nullptr;
HANDLE ReceiveThread = nullptr;
HANDLE AudioThreads[2] = {nullptr, nullptr};

}  // namespace sipline
