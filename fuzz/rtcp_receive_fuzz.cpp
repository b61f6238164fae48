// Received RTCP compounds from several addresses over moving time, fed into one context:
// validation, the member table's SR/RR/SDES/BYE/APP updates, collisions, merges and time-outs.
// Input: records of {length (2 bytes), source (1), seconds to advance (1), datagram}.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "rtp/context_internal.h"
#include "rtp/rtp.h"

namespace {

sipline::timeval now{1700000000, 0};
sipline::timeval Clock() {
    return now;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace sipline;
    rtp_set_clock(Clock);
    int32_t context = -1;
    if (RTPCreate(&context) != 0) {
        return 0;
    }
    RTPMemberInfoSetSDES(context, 0, RTP_SDES_CNAME, "fuzz@127.0.0.1");
    std::vector<char> buffer;
    while (size >= 4) {
        size_t length = std::min<size_t>(size - 4, data[0] << 8 | data[1]);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7F000000 | (data[2] & 0x07));
        from.sin_port = htons(static_cast<uint16_t>(5000 + (data[2] >> 3)));
        now.tv_sec += data[3];
        buffer.assign(data + 4, data + 4 + length);
        RTPPacketReceived(context, buffer.data(), static_cast<int32_t>(buffer.size()), &from,
                          sizeof from, 1, 0);
        data += 4 + length;
        size -= 4 + length;
    }
    RTPDestroy(context);
    return 0;
}
