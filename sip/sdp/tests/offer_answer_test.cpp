#include "sip/sdp/offer_answer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace sipline {
namespace {

std::string offer_with(const std::string &media_lines) {
    return "v=0\r\no=caller 1 1 IN IP4 192.0.2.7\r\ns=-\r\nc=IN IP4 192.0.2.7\r\nt=0 0\r\n" +
           media_lines;
}

struct answer_case {
    const char *name;
    std::string media_lines;  // of the offer
    int status;
    const char *answer_media;  // the answer's lines after its t= line, on 200
    int send_codec;
    int event_payload_type;
};

const sdp_local_t kLocal{"198.51.100.1", 10000, nullptr, 0};

const answer_case kAnswerCases[] = {
    {"PCMA only is answered PCMA only and sent in it", "m=audio 4000 RTP/AVP 8\r\n", 200,
     "m=audio 10000 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n", SDP_CODEC_PCMA, -1},
    {"PCMU only", "m=audio 4000 RTP/AVP 0\r\n", 200,
     "m=audio 10000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n", SDP_CODEC_PCMU, -1},
    {"GSM is sent whenever offered, formats stay in the caller's order",
     "m=audio 4000 RTP/AVP 8 0 3\r\n", 200,
     "m=audio 10000 RTP/AVP 8 0 3\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:0 PCMU/8000\r\n"
     "a=rtpmap:3 GSM/8000\r\n",
     SDP_CODEC_GSM, -1},
    {"without GSM the caller's first is sent", "m=audio 4000 RTP/AVP 8 0\r\n", 200,
     "m=audio 10000 RTP/AVP 8 0\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:0 PCMU/8000\r\n",
     SDP_CODEC_PCMA, -1},
    {"unknown formats are left out", "m=audio 4000 RTP/AVP 9 18 0 97\r\na=rtpmap:97 opus/48000/2\r\n",
     200, "m=audio 10000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n", SDP_CODEC_PCMU, -1},
    {"telephone-event keeps the caller's number and the keys' events",
     "m=audio 4000 RTP/AVP 0 96\r\na=rtpmap:96 telephone-event/8000\r\na=fmtp:96 0-16\r\n", 200,
     "m=audio 10000 RTP/AVP 0 96\r\na=rtpmap:0 PCMU/8000\r\na=rtpmap:96 telephone-event/8000\r\n"
     "a=fmtp:96 0-15\r\n",
     SDP_CODEC_PCMU, 96},
    {"telephone-event without fmtp means 0-15",
     "m=audio 4000 RTP/AVP 3 101\r\na=rtpmap:101 TELEPHONE-EVENT/8000\r\n", 200,
     "m=audio 10000 RTP/AVP 3 101\r\na=rtpmap:3 GSM/8000\r\na=rtpmap:101 telephone-event/8000\r\n"
     "a=fmtp:101 0-15\r\n",
     SDP_CODEC_GSM, 101},
    {"telephone-event of other events only is left out",
     "m=audio 4000 RTP/AVP 0 101\r\na=rtpmap:101 telephone-event/8000\r\na=fmtp:101 32-40\r\n",
     200, "m=audio 10000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n", SDP_CODEC_PCMU, -1},
    {"telephone-event at 48 kHz is left out",
     "m=audio 4000 RTP/AVP 0 101\r\na=rtpmap:101 telephone-event/48000\r\n", 200,
     "m=audio 10000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n", SDP_CODEC_PCMU, -1},
    {"a dynamic number for PCMA", "m=audio 4000 RTP/AVP 110\r\na=rtpmap:110 pcma/8000\r\n", 200,
     "m=audio 10000 RTP/AVP 110\r\na=rtpmap:110 PCMA/8000\r\n", SDP_CODEC_PCMA, -1},
    {"sendonly is answered recvonly", "m=audio 4000 RTP/AVP 0\r\na=sendonly\r\n", 200,
     "m=audio 10000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\na=recvonly\r\n", SDP_CODEC_PCMU, -1},
    {"a session-level inactive is answered inactive",
     "a=inactive\r\nm=audio 4000 RTP/AVP 0\r\n", 200,
     "m=audio 10000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\na=inactive\r\n", SDP_CODEC_PCMU, -1},
    {"video gets port 0 beside the audio",
     "m=video 5000 RTP/AVP 31\r\nm=audio 4000 RTP/AVP 0\r\n", 200,
     "m=video 0 RTP/AVP 31\r\nm=audio 10000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n",
     SDP_CODEC_PCMU, -1},
    {"a second audio stream gets port 0",
     "m=audio 4000 RTP/AVP 0\r\nm=audio 4002 RTP/AVP 8\r\n", 200,
     "m=audio 10000 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\nm=audio 0 RTP/AVP 8\r\n",
     SDP_CODEC_PCMU, -1},
    {"G.722 only: 488", "m=audio 4000 RTP/AVP 9\r\n", 488, nullptr, -1, -1},
    {"secure RTP only: 488", "m=audio 4000 RTP/SAVP 0\r\n", 488, nullptr, -1, -1},
    {"a disabled stream: 488", "m=audio 0 RTP/AVP 0\r\n", 488, nullptr, -1, -1},
    {"no audio stream: 488", "", 488, nullptr, -1, -1},
    {"a port out of range: 488", "m=audio 70000 RTP/AVP 0\r\n", 488, nullptr, -1, -1},
    {"a payload type out of range: 488", "m=audio 4000 RTP/AVP 0 128\r\n", 488, nullptr, -1, -1},
    {"a format that is no number: 488", "m=audio 4000 RTP/AVP 0 x\r\n", 488, nullptr, -1, -1},
    {"no formats: 488", "m=audio 4000 RTP/AVP\r\n", 488, nullptr, -1, -1},
    {"a broken rtpmap is no codec", "m=audio 4000 RTP/AVP 96\r\na=rtpmap:96 PCMA\r\n", 488,
     nullptr, -1, -1},
};

class AnswerTest : public ::testing::TestWithParam<answer_case> {};

TEST_P(AnswerTest, AnswersTheOffer) {
    const answer_case &c = GetParam();
    media_description_t media = MediaDescriptionEmpty();
    char *answer = nullptr;
    const std::string offer = offer_with(c.media_lines);
    ASSERT_EQ(SdpAnswerOffer(offer.c_str(), &kLocal, &media, &answer), c.status);
    if (c.status != 200) {
        EXPECT_EQ(answer, nullptr);
        return;
    }
    ASSERT_NE(answer, nullptr);
    const std::string head =
        "v=0\r\no=MARVA 123123453 123453 IN IP4 198.51.100.1\r\ns=Telephone call\r\n"
        "c=IN IP4 198.51.100.1\r\nt=0 0\r\n";
    EXPECT_EQ(std::string(answer), head + c.answer_media);
    std::free(answer);
    EXPECT_EQ(media.send_codec, c.send_codec);
    EXPECT_EQ(media.event_payload_type, c.event_payload_type);
    EXPECT_STREQ(media.address, "192.0.2.7");
}

INSTANTIATE_TEST_SUITE_P(Offers, AnswerTest, ::testing::ValuesIn(kAnswerCases),
                         [](const auto &row) {
                             std::string name;
                             for (char ch : std::string(row.param.name)) {
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

TEST(Answer, NotADescriptionIs400) {
    media_description_t media = MediaDescriptionEmpty();
    char *answer = nullptr;
    EXPECT_EQ(SdpAnswerOffer("hello", &kLocal, &media, &answer), 400);
    EXPECT_EQ(SdpAnswerOffer("", &kLocal, &media, &answer), 400);
    EXPECT_EQ(SdpAnswerOffer(nullptr, &kLocal, &media, &answer), 400);
    EXPECT_EQ(answer, nullptr);
}

TEST(Answer, MediaDescriptionCarriesTheCallersNumbersAndAddress) {
    const std::string offer =
        "v=0\r\ns=-\r\nc=IN IP4 192.0.2.7\r\nm=audio 4002 RTP/AVP 110 3\r\nc=IN IP4 203.0.113.9/16\r\n"
        "a=rtpmap:110 PCMU/8000\r\na=recvonly\r\n";
    media_description_t media = MediaDescriptionEmpty();
    char *answer = nullptr;
    ASSERT_EQ(SdpAnswerOffer(offer.c_str(), &kLocal, &media, &answer), 200);
    std::free(answer);
    EXPECT_STREQ(media.address, "203.0.113.9");
    EXPECT_EQ(media.ttl, 16);
    EXPECT_EQ(media.port, 4002);
    EXPECT_EQ(media.payload_type[SDP_CODEC_PCMU], 110);
    EXPECT_EQ(media.payload_type[SDP_CODEC_GSM], 3);
    EXPECT_EQ(media.payload_type[SDP_CODEC_PCMA], -1);
    EXPECT_EQ(media.direction, SDP_SENDONLY);
}

TEST(Answer, ConfiguredCodecsLimitAndOrderTheChoice) {
    const int8_t only_alaw_then_ulaw[] = {SDP_CODEC_PCMA, SDP_CODEC_PCMU};
    const sdp_local_t local{"198.51.100.1", 10000, only_alaw_then_ulaw, 2};
    media_description_t media = MediaDescriptionEmpty();
    char *answer = nullptr;
    const std::string offer = offer_with("m=audio 4000 RTP/AVP 3 0 8\r\n");
    ASSERT_EQ(SdpAnswerOffer(offer.c_str(), &local, &media, &answer), 200);
    EXPECT_NE(std::string(answer).find("m=audio 10000 RTP/AVP 0 8\r\n"), std::string::npos);
    std::free(answer);
    EXPECT_EQ(media.send_codec, SDP_CODEC_PCMA);
    EXPECT_EQ(media.payload_type[SDP_CODEC_GSM], -1);
    const std::string gsm_only = offer_with("m=audio 4000 RTP/AVP 3\r\n");
    EXPECT_EQ(SdpAnswerOffer(gsm_only.c_str(), &local, &media, &answer), 488);
}

TEST(Answer, SixtyFourFormatsAreReadWithoutHarm) {
    std::string formats = " 9";
    for (int pt = 65; pt < 128; ++pt) {
        formats += " " + std::to_string(pt);
    }
    formats += " 8";  // the 65th format is not read
    const std::string offer = offer_with("m=audio 4000 RTP/AVP" + formats + "\r\n");
    media_description_t media = MediaDescriptionEmpty();
    char *answer = nullptr;
    EXPECT_EQ(SdpAnswerOffer(offer.c_str(), &kLocal, &media, &answer), 488);
}

TEST(Offer, ListsTheCodecsThenTelephoneEvent) {
    char *offer = SdpBuildOffer(&kLocal);
    EXPECT_STREQ(offer,
                 "v=0\r\no=MARVA 123123453 123453 IN IP4 198.51.100.1\r\ns=Telephone call\r\n"
                 "c=IN IP4 198.51.100.1\r\nt=0 0\r\nm=audio 10000 RTP/AVP 0 3 8 101\r\n"
                 "a=rtpmap:0 PCMU/8000\r\na=rtpmap:3 GSM/8000\r\na=rtpmap:8 PCMA/8000\r\n"
                 "a=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\n");
    std::free(offer);
}

TEST(Offer, AnswerToItIsRead) {
    media_description_t media = MediaDescriptionEmpty();
    const std::string answer = offer_with(
        "m=audio 6000 RTP/AVP 8 101\r\na=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-11\r\n");
    ASSERT_EQ(SdpReadAnswer(answer.c_str(), &kLocal, &media), 0);
    EXPECT_EQ(media.send_codec, SDP_CODEC_PCMA);
    EXPECT_EQ(media.event_payload_type, 101);
    EXPECT_EQ(media.events, 0x0FFF);
    EXPECT_EQ(media.port, 6000);
    const std::string nothing = offer_with("m=audio 6000 RTP/AVP 9\r\n");
    EXPECT_EQ(SdpReadAnswer(nothing.c_str(), &kLocal, &media), -1);
    const std::string refused = offer_with("m=audio 0 RTP/AVP 0\r\n");
    EXPECT_EQ(SdpReadAnswer(refused.c_str(), &kLocal, &media), -1);
    EXPECT_EQ(SdpReadAnswer(nullptr, &kLocal, &media), -1);
}

}  // namespace
}  // namespace sipline
