#include "sip/uas/sdp.h"

#include <gtest/gtest.h>

#include <string>

#include "sip/uas/tests/fake_gateway.h"

namespace sipline {
namespace {

struct sdp_case {
    const char *name;
    const char *body;
    const char *address;  // expected RTPDestAddress
    int port;
    int ttl;
};

// Each body starts from address "old", port 1111 and TTL 9.
const sdp_case kSdpCases[] = {
    {"multicast with ttl", "v=0\r\nc=IN IP4 224.2.17.12/127\r\nm=audio 4000/2 RTP/AVP 0\r\n",
     "224.2.17.12", 4000, 127},
    {"unicast without ttl", "c=IN IP4 10.0.0.1\r\nm=audio 3456 RTP/AVP 3\r\n", "10.0.0.1", 3456, 0},
    {"video line clears the port",
     "c=IN IP4 10.0.0.1\nm=audio 3456 RTP/AVP 3\nm=video 5000 RTP/AVP 31\n", "10.0.0.1", 0, 0},
    {"ip6 leaves the address", "c=IN IP6 ::1\r\nm=audio 3456 RTP/AVP 3\r\n", "old", 3456, 0},
    {"last connection line decides", "c=IN IP4 10.0.0.1\r\nc=IN IP4 10.0.0.2/5\r\n", "10.0.0.2",
     1111, 5},
    {"short line does not borrow the next", "c=IN IP4\r\nx=10.9.9.9\r\n", "old", 1111, 0},
    {"no body", nullptr, "old", 1111, 9},
    {"only ignored lines", "v=0\r\no=- 1 1 IN IP4 1.2.3.4\r\ns=-\r\nt=0 0\r\na=x\r\n", "old", 1111,
     9},
    {"lines after a ttl are read", "c=IN IP4 224.0.0.9/3\nm=audio 7000 RTP/AVP 0\n", "224.0.0.9",
     7000, 3},
    {"transport other than RTP/AVP", "m=audio 7000 UDP 0\r\n", "old", 0, 9},
};

class SdpTest : public ::testing::TestWithParam<sdp_case> {};

TEST_P(SdpTest, ReadsConnectionAndAudioPort) {
    testing::fake_gateway gateway;
    gateway.install();
    snprintf(gateway.RTPDestAddress, RTP_DEST_ADDRESS_SIZE, "old");
    gateway.RTPDestPort = 1111;
    gateway.RTPDestTTL = 9;
    const sdp_case &c = GetParam();
    EXPECT_EQ(parseSDP(c.body), 0);
    EXPECT_STREQ(gateway.RTPDestAddress, c.address);
    EXPECT_EQ(gateway.RTPDestPort.load(), c.port);
    EXPECT_EQ(gateway.RTPDestTTL.load(), c.ttl);
}

INSTANTIATE_TEST_SUITE_P(Bodies, SdpTest, ::testing::ValuesIn(kSdpCases),
                         [](const auto &param_info) {
                             std::string name = param_info.param.name;
                             for (char &ch : name) {
                                 if (!isalnum(static_cast<unsigned char>(ch))) {
                                     ch = '_';
                                 }
                             }
                             return name;
                         });

TEST(SdpPortTest, CountsTheValuesOfThePortField) {
    uint16_t port = 7;
    EXPECT_EQ(sdpGetDestPort("audio 4000/2 RTP/AVP 0", &port), 2);
    EXPECT_EQ(port, 4000);
    EXPECT_EQ(sdpGetDestPort("audio 3456 RTP/AVP 3", &port), 1);
    EXPECT_EQ(port, 3456);
    EXPECT_EQ(sdpGetDestPort("video 3456 RTP/AVP 3", &port), 0);
    EXPECT_EQ(port, 0);
}

TEST(SdpAddressTest, RefusesOtherAddressTypes) {
    testing::fake_gateway gateway;
    gateway.install();
    char ip6[] = "IN IP6 ::1";
    EXPECT_EQ(sdpGetDestAddress(ip6), 0);
    char ip4[] = "IN IP4 192.0.2.5";
    EXPECT_EQ(sdpGetDestAddress(ip4), 3);
    EXPECT_STREQ(gateway.RTPDestAddress, "192.0.2.5");
}

}  // namespace
}  // namespace sipline
