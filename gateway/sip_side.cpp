#include "gateway/sip_side.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "media/bridge_state.h"

namespace sipline::sip_side {

void StatusTextInit() {}

request_t *RequestCreate(int32_t, int32_t, const char *) {
    return nullptr;
}

uint32_t ReceiveUDP(void *port) {
    std::printf("ReceiveUDP on port %d (placeholder: SIP is not answered yet)\n",
                *static_cast<int32_t *>(port));
    while (QuitRequested == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return 0;
}

}  // namespace sipline::sip_side
