#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "board/board.h"
#include "gateway/host_identity.h"
#include "gateway/sdp_offer.h"

namespace sipline {
namespace {

TEST(SdpOffer, IsTheCleanFormByteForByte) {
    char *offer = BuildSdpOffer("192.0.2.7");
    ASSERT_NE(offer, nullptr);
    EXPECT_EQ(std::string(offer),
              "v=0\r\n"
              "o=MARVA 123123453 123453 IN IP4 192.0.2.7\r\n"
              "s=Telephone call\r\n"
              "c=IN IP4 192.0.2.7\r\n"
              "t=0 0\r\n"
              "m=audio 10000 RTP/AVP 0 3 8 101\r\n"
              "a=rtpmap:0 PCMU/8000\r\n"
              "a=rtpmap:3 GSM/8000\r\n"
              "a=rtpmap:8 PCMA/8000\r\n"
              "a=rtpmap:101 telephone-event/8000\r\n"
              "a=fmtp:101 0-15\r\n");
    std::free(offer);
}

TEST(HostIdentity, TheShortNameEndsBeforeTheFirstDot) {
    struct Case {
        const char *full;
        const char *short_name;
    };
    const Case cases[] = {
        {"gw.example.org", "gw"}, {"linegw", "linegw"},      {"a.b", "a"},
        {".leading", ""},         {"trailing.", "trailing"}, {"", ""},
    };
    for (const Case &c : cases) {
        char name[64];
        std::snprintf(name, sizeof name, "%s", c.full);
        CutAtFirstDot(name);
        EXPECT_STREQ(name, c.short_name) << c.full;
    }
}

TEST(BoardEvents, NamesAreTheBoardsOwn) {
    struct Case {
        int32_t type;
        const char *name;
    };
    const Case cases[] = {
        {0, "EV_WAKEUP"},           {0x81, "TDX_PLAY"},
        {0x82, "TDX_RECORD"},       {0x83, "EV_DIGITS_DONE"},
        {0x84, "EV_DIAL_DONE"},     {0x85, "EV_SETUP_DONE"},
        {0x88, "EV_CALL_PROGRESS"}, {0x86, "TDX_CST"},
        {0x87, "EV_HOOK_DONE"},     {0x1FF8, "EV_REMOTE_HANGUP"},
        {0x89, "EV_CALLER_ID"},     {0x8A, "EV_LINE_DISCONNECT"},
        {0x8B, "unknown"},
    };
    for (const Case &c : cases) {
        EXPECT_STREQ(board_event_name(c.type), c.name) << c.type;
    }
}

}  // namespace
}  // namespace sipline
