// Which RTCP the media take as the call's peer's: the sender of an SR or RR (whose source port
// the gateway's RTCP then goes to behind a NAT) and of a BYE.
#include "media/call_link.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace sipline {
namespace {

constexpr uint32_t AUDIO_SSRC = 0x11223344;

sockaddr_in from(const char *address) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(30001);
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

// The first 8 bytes of an RTCP packet as the engine leaves them: the common header's type in
// the second byte, the sender's SSRC in host order.
std::array<char, 8> report(uint8_t type, uint32_t ssrc) {
    std::array<char, 8> packet{};
    packet[0] = static_cast<char>(0x80);
    packet[1] = static_cast<char>(type);
    std::memcpy(packet.data() + 4, &ssrc, sizeof ssrc);
    return packet;
}

TEST(RtcpFromPeer, OnlyTheLatchedSourcesReportsMoveTheRtcpDestination) {
    in_addr peer{};
    inet_pton(AF_INET, "203.0.113.7", &peer);
    struct row {
        uint8_t type;
        uint32_t ssrc;
        const char *source;
        int32_t bytes;
        bool taken;
        const char *what;
    };
    for (const row &r : {
             row{200, AUDIO_SSRC, "203.0.113.7", 8, true, "SR of the call's source"},
             row{201, AUDIO_SSRC, "203.0.113.7", 8, true, "RR of the call's source"},
             row{201, 0x55667788, "203.0.113.7", 8, false, "another SSRC from the peer's address"},
             row{200, AUDIO_SSRC, "198.51.100.9", 8, false, "the call's SSRC from a stranger"},
             row{202, AUDIO_SSRC, "203.0.113.7", 8, false, "SDES first"},
             row{203, AUDIO_SSRC, "203.0.113.7", 8, false, "BYE"},
             row{200, AUDIO_SSRC, "203.0.113.7", 7, false, "too short for an SSRC"},
         }) {
        const auto packet = report(r.type, r.ssrc);
        EXPECT_EQ(RtcpFromPeer(packet.data(), r.bytes, AUDIO_SSRC, from(r.source), peer), r.taken)
            << r.what;
    }
    const auto packet = report(200, AUDIO_SSRC);
    EXPECT_FALSE(RtcpFromPeer(packet.data(), 8, AUDIO_SSRC, from("0.0.0.0"), in_addr{}))
        << "no peer known";
}

}  // namespace
}  // namespace sipline
