// Received datagrams into the RTP engine: the first byte chooses RTP or RTCP and whether the
// datagram seems to come from the context's own address; the rest is the datagram, in a
// buffer of exactly its size.
#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "rtp/rtp.h"

using namespace sipline;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static int32_t context = -1;
    static int uses = 0;
    // A fresh context now and then keeps the member table from growing without end.
    if (context < 0 || ++uses == 1000) {
        if (context >= 0) {
            RTPLowLevelDestroy(context);
        }
        RTPLowLevelCreate(&context);
        uses = 0;
    }
    if (size < 1) {
        return 0;
    }
    const uint8_t control = data[0];
    ++data;
    --size;
    auto buffer = std::make_unique<char[]>(size == 0 ? 1 : size);
    std::memcpy(buffer.get(), data, size);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = htons(static_cast<uint16_t>(5000 + (control >> 2)));
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool rtcp = control & 1;
    rtperror result = RTPPacketReceived(context, buffer.get(), static_cast<int32_t>(size), &from,
                                        sizeof from, rtcp, (control >> 1) & 1);
    if (result != RTP_OK) {
        return 0;
    }
    if (rtcp) {
        char *packets[RTCP_MAX_COMPOUND];
        int32_t count = RTPSplitCompound(buffer.get(), packets, static_cast<int32_t>(size));
        for (int32_t i = 0; i < count; ++i) {
            rtcp_packet_info_t info{};
            RTPGetRTCPPacketInfo(&info, packets[i]);
        }
    } else {
        rtp_packet_info_t info{};
        if (RTPGetRTPPacketInfo(&info, buffer.get(), static_cast<int32_t>(size)) == RTP_OK) {
            for (int32_t i = 0; i < info.header->cc; ++i) {
                RTPGetCSRC(&info, i);
            }
        }
    }
    return 0;
}
