// Datagrams as InTh meets them after the engine took them: the RTCP BYE test of the call's
// peer over the packet's SSRC list, and the GSM frames of an RTP payload decoded and encoded
// for the play stream. Input: records of {length (2 bytes), kind (1), datagram}; kind bit 0
// chooses RTCP, bit 1 whether audio was heard before.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/call_link.h"
#include "media/gsm_codec.h"
#include "media/mulaw.h"
#include "rtp/rtp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace sipline;
    int32_t context = -1;
    if (RTPCreate(&context) != 0) {
        return 0;
    }
    gsm_codec decoder;
    std::vector<char> buffer;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000001);
    in_addr peer{htonl(0x7F000001)};
    while (size >= 3) {
        size_t length = std::min<size_t>(size - 3, data[0] << 8 | data[1]);
        const bool rtcp = (data[2] & 1) != 0;
        const bool heard = (data[2] & 2) != 0;
        buffer.assign(data + 3, data + 3 + length);
        if (RTPPacketReceived(context, buffer.data(), static_cast<int32_t>(buffer.size()), &from,
                              sizeof from, rtcp ? 1 : 0, 0) == RTP_OK) {
            if (rtcp) {
                rtcp_packet_info_t info{};
                if (RTPGetRTCPPacketInfo(&info, buffer.data()) == RTP_OK &&
                    info.packet->pt == RTCP_BYE) {
                    ByeFromPeer(buffer.data(), (info.packet->length + 1) * 4, heard, 0x1234, from,
                                peer);
                }
            } else {
                rtp_packet_info_t info{};
                if (RTPGetRTPPacketInfo(&info, buffer.data(),
                                        static_cast<int32_t>(buffer.size())) == RTP_OK) {
                    const auto *payload = reinterpret_cast<const uint8_t *>(info.payload);
                    int16_t samples[GSM_FRAME_SAMPLES];
                    for (int32_t at = 0; at + GSM_FRAME_BYTES <= info.payload_length;
                         at += GSM_FRAME_BYTES) {
                        if (decoder.decode(payload + at, samples)) {
                            for (int16_t s : samples) {
                                (void)mulaw_compress(s);
                            }
                        }
                    }
                }
            }
        }
        data += 3 + length;
        size -= 3 + length;
    }
    RTPDestroy(context);
    return 0;
}
