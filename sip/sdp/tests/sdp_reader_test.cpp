#include "sip/sdp/sdp_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace sipline {
namespace {

TEST(SdpReader, ReadsMediaFormatsAndAttributes) {
    const char *body =
        "v=0\r\no=- 1 1 IN IP4 192.0.2.1\r\ns=-\r\nc=IN IP4 224.2.17.12/127\r\nt=0 0\r\n"
        "a=sendonly\r\nm=audio 4000/2 RTP/AVP 0 96\r\na=rtpmap:96 telephone-event/8000\r\n"
        "a=fmtp:96 0-15\r\nm=video 5000 RTP/AVP 31\r\nc=IN IP4 10.0.0.2\r\na=recvonly\r\n";
    sdp_description_t d;
    ASSERT_EQ(SdpRead(body, &d), 0);
    EXPECT_EQ(d.address, "224.2.17.12");
    EXPECT_EQ(d.ttl, 127);
    ASSERT_EQ(d.media.size(), 2U);
    const sdp_media_t &audio = d.media[0];
    EXPECT_EQ(audio.media, "audio");
    EXPECT_EQ(audio.port, 4000U);
    EXPECT_EQ(audio.proto, "RTP/AVP");
    EXPECT_EQ(audio.address, "224.2.17.12");
    EXPECT_EQ(audio.direction, SDP_SENDONLY);
    ASSERT_EQ(audio.formats.size(), 2U);
    EXPECT_EQ(SdpFormatEncoding(audio.formats[0]), "PCMU");
    EXPECT_EQ(audio.formats[1].encoding, "telephone-event");
    EXPECT_EQ(audio.formats[1].clock_rate, 8000);
    EXPECT_EQ(audio.formats[1].parameters, "0-15");
    EXPECT_EQ(d.media[1].address, "10.0.0.2");
    EXPECT_EQ(d.media[1].direction, SDP_RECVONLY);
}

TEST(SdpReader, RefusesWhatIsNoDescription) {
    sdp_description_t d;
    EXPECT_EQ(SdpRead(nullptr, &d), -1);
    EXPECT_EQ(SdpRead("", &d), -1);
    EXPECT_EQ(SdpRead("m=audio 4000 RTP/AVP 0\r\n", &d), -1);
    EXPECT_EQ(SdpRead("v=1\r\n", &d), -1);
    std::string many = "v=0\r\n";
    for (int i = 0; i <= SDP_MEDIA_MAX; ++i) {
        many += "m=audio 4000 RTP/AVP 0\r\n";
    }
    EXPECT_EQ(SdpRead(many.c_str(), &d), -1);
}

TEST(SdpReader, MalformedLinesMarkTheirStream) {
    sdp_description_t d;
    ASSERT_EQ(SdpRead("v=0\nm=audio x RTP/AVP 0\nm=audio 4000 RTP/AVP 300\nm=audio 4000\n"
                      "m=application 9 TCP/BFCP *\nc=IN IP6 ::1\n",
                      &d),
              0);
    ASSERT_EQ(d.media.size(), 4U);
    EXPECT_TRUE(d.media[0].malformed);
    EXPECT_TRUE(d.media[1].malformed);
    EXPECT_TRUE(d.media[2].malformed);
    EXPECT_FALSE(d.media[3].malformed);
    EXPECT_EQ(d.media[3].format_text, "*");
    EXPECT_EQ(d.media[3].address, "");
}

TEST(SdpReader, RtpmapAndFmtpOfUnlistedFormatsAreIgnored) {
    sdp_description_t d;
    ASSERT_EQ(SdpRead("v=0\r\nm=audio 4000 RTP/AVP 0\r\na=rtpmap:8 PCMA/8000\r\na=fmtp:8 x\r\n"
                      "a=rtpmap:0 PCMU/x\r\na=rtpmap:\r\na=fmtp:\r\n",
                      &d),
              0);
    ASSERT_EQ(d.media[0].formats.size(), 1U);
    EXPECT_EQ(d.media[0].formats[0].encoding, "");
    EXPECT_EQ(d.media[0].formats[0].clock_rate, 0);
}

}  // namespace
}  // namespace sipline
