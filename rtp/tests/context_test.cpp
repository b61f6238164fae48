#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>

#include "rtp/context_internal.h"
#include "rtp/rtp.h"

namespace sipline {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class Context : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(RTPCreate(&context_), RTP_OK); }
    void TearDown() override { RTPDestroy(context_); }
    int32_t context_ = -1;
};

TEST(ContextTable, ReusesTheLowestFreeNumber) {
    int32_t a = -1, b = -1, c = -1;
    ASSERT_EQ(RTPCreate(&a), RTP_OK);
    ASSERT_EQ(RTPCreate(&b), RTP_OK);
    EXPECT_EQ(b, a + 1);
    ASSERT_EQ(RTPDestroy(a), RTP_OK);
    ASSERT_EQ(RTPCreate(&c), RTP_OK);
    EXPECT_EQ(c, a) << "a freed slot is taken again first";
    RTPDestroy(b);
    RTPDestroy(c);
}

TEST(ContextTable, GrowsBeyondItsFirst256Slots) {
    std::vector<int32_t> contexts(300);
    for (auto &c : contexts) {
        ASSERT_EQ(RTPLowLevelCreate(&c), RTP_OK);
    }
    std::set<int32_t> distinct(contexts.begin(), contexts.end());
    EXPECT_EQ(distinct.size(), contexts.size());
    for (int32_t c : contexts) {
        EXPECT_EQ(RTPLowLevelDestroy(c), RTP_OK);
    }
}

TEST(ContextTable, UnknownAndUnusedContextsAreRefused) {
    int32_t c = -1;
    ASSERT_EQ(RTPCreate(&c), RTP_OK);
    ASSERT_EQ(RTPDestroy(c), RTP_OK);
    int32_t mode = 0;
    EXPECT_EQ(RTPSessionGetMode(c, &mode), RTP_UNKNOWN_CONTEXT);
    EXPECT_THAT(RTPLastErrorText(),
                HasSubstr("context " + std::to_string(c) + " currently not in use"));
    EXPECT_EQ(RTPSessionGetMode(100000, &mode), RTP_UNKNOWN_CONTEXT);
    EXPECT_EQ(std::string(RTPLastErrorText()),
              "Call from RTPSessionGetMode(): unknown context 100000\n");
    EXPECT_EQ(RTPDestroy(-1), RTP_UNKNOWN_CONTEXT);
}

TEST(ContextTable, ConcurrentCreationAndLookupAreSafe) {
    // Contexts are made on one thread while others use theirs (the media threads and the
    // schedule thread of a call): the table must not be torn under them.
    int32_t mine = -1;
    ASSERT_EQ(RTPCreate(&mine), RTP_OK);
    std::thread user([mine] {
        for (int i = 0; i < 2000; ++i) {
            int32_t rate = 0;
            EXPECT_EQ(RTPSessionGetRTPStampRate(mine, 3, &rate), RTP_OK);
        }
    });
    std::vector<int32_t> made;
    for (int i = 0; i < 300; ++i) {
        int32_t c = -1;
        ASSERT_EQ(RTPLowLevelCreate(&c), RTP_OK);
        made.push_back(c);
    }
    user.join();
    for (int32_t c : made) {
        RTPLowLevelDestroy(c);
    }
    RTPDestroy(mine);
}

TEST(ErrorTexts, EveryCodeHasItsText) {
    struct row {
        rtperror code;
        const char *text;
    } rows[] = {
        {RTP_OK, "No error"},
        {RTP_BAD_VALUE, "Parameter out of range"},
        {RTP_UNKNOWN_CONTEXT, "Context destroyed or never created"},
        {RTP_SOCKET_MISMATCH, "Socket does not belong to session"},
        {RTP_CANT_CLOSE_SESSION, "Unable to close session"},
        {RTP_PACKET_LOOPBACK, "Packet looped back"},
        {RTP_BAD_PACKET_FORMAT, "Packet has incorrect format"},
        {RTP_CANT_CALL_FUNCTION, "Not allowed to recurse"},
        {RTP_DONT_SEND_NOW, "Don't send this packet now"},
    };
    for (const auto &r : rows) {
        EXPECT_STREQ(RTPStrError(r.code), r.text) << std::hex << r.code;
    }
    EXPECT_STREQ(RTPStrError(0x3000003), "Unknown RTP Error 50331651");
    EXPECT_STREQ(RTPStrError(RTP_BYE_NOT_SENT), "Unknown RTP Error 50331939");
}

TEST(ErrorTexts, SystemFailuresCarryTheSystemText) {
    int32_t c = -1;
    ASSERT_EQ(RTPCreate(&c), RTP_OK);
    EXPECT_EQ(RTPSessionAddSendAddr(c, "no-such-host.invalid", 5004, 0), RTP_BAD_ADDR);
    EXPECT_THAT(RTPLastErrorText(),
                StartsWith("Call from RTPSessionAddSendAddr(): Could not resolve address\n"));
    EXPECT_EQ(RTPSessionSetRTPStampRate(c, 128, 1), RTP_BAD_PROFILE);
    EXPECT_STREQ(RTPLastErrorText(),
                 "Call from RTPSessionSetRTPStampRate(): Payload type 128 not allowed\n");
    RTPDestroy(c);
}

TEST_F(Context, DefaultStampRatesFollowThePayloadTable) {
    struct row {
        int32_t pt;
        int32_t rate;
    } rows[] = {{0, 125}, {3, 125}, {8, 125}, {18, 125}, {6, 63},  {9, 63}, {10, 23},
                {11, 23}, {14, 11}, {34, 11}, {16, 91},  {17, 45}, {19, 0}, {96, 0}};
    for (const auto &r : rows) {
        int32_t rate = -1;
        ASSERT_EQ(RTPSessionGetRTPStampRate(context_, r.pt, &rate), RTP_OK);
        EXPECT_EQ(rate, r.rate) << "payload type " << r.pt;
    }
}

TEST_F(Context, StampRateAcceptsPayloadTypesUpTo127) {
    EXPECT_EQ(RTPSessionSetRTPStampRate(context_, 127, 20), RTP_OK);
    int32_t rate = 0;
    EXPECT_EQ(RTPSessionGetRTPStampRate(context_, 127, &rate), RTP_OK);
    EXPECT_EQ(rate, 20);
    EXPECT_EQ(RTPSessionSetRTPStampRate(context_, 128, 20), RTP_BAD_PROFILE);
    EXPECT_EQ(RTPSessionGetRTPStampRate(context_, -1, &rate), RTP_BAD_PROFILE);
}

TEST_F(Context, BandwidthRefusesZeroAndNegativeAndKeepsTheOldValues) {
    float bandwidth = 0, fraction = 0;
    ASSERT_EQ(RTPSessionGetBandwidth(context_, &bandwidth, &fraction), RTP_OK);
    EXPECT_FLOAT_EQ(bandwidth, 120.0f);
    EXPECT_FLOAT_EQ(fraction, 0.05f);
    struct row {
        float bandwidth, fraction;
    } bad[] = {{0, 0.05f}, {64, 0}, {-1, 0.05f}, {64, -0.1f}};
    for (const auto &r : bad) {
        EXPECT_EQ(RTPSessionSetBandwidth(context_, r.bandwidth, r.fraction), RTP_BAD_VALUE);
        ASSERT_EQ(RTPSessionGetBandwidth(context_, &bandwidth, &fraction), RTP_OK);
        EXPECT_FLOAT_EQ(bandwidth, 120.0f);
        EXPECT_FLOAT_EQ(fraction, 0.05f);
    }
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("invalid bandwidth and/or fraction"));
    EXPECT_EQ(RTPSessionSetBandwidth(context_, 64, 0.1f), RTP_OK);
    ASSERT_EQ(RTPSessionGetBandwidth(context_, &bandwidth, &fraction), RTP_OK);
    EXPECT_FLOAT_EQ(bandwidth, 64.0f);
}

TEST_F(Context, StoredWordsAndCallbacksComeBack) {
    int32_t value = 0;
    EXPECT_EQ(RTPSessionGetMode(context_, &value), RTP_OK);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(RTPSessionSetMode(context_, 7), RTP_OK);
    EXPECT_EQ(RTPSessionGetMode(context_, &value), RTP_OK);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(RTPSessionSetUserData(context_, 42), RTP_OK);
    EXPECT_EQ(RTPSessionGetUserData(context_, &value), RTP_OK);
    EXPECT_EQ(value, 42);
    EXPECT_EQ(RTPSessionSetReconsideration(context_, 1), RTP_OK);
    EXPECT_EQ(RTPSessionGetReconsideration(context_, &value), RTP_OK);
    EXPECT_EQ(value, 1);

    static int32_t key_seen;
    key_seen = 0;
    EXPECT_EQ(RTPSessionSetEncryptionFuncs(
                  context_, [](int32_t, int32_t key) { key_seen = key; }, nullptr, nullptr),
              RTP_OK);
    EXPECT_EQ(RTPSessionSetEncryptionKey(context_, 99), RTP_OK);
    EXPECT_EQ(key_seen, 99) << "setting the key runs the key set-up callback";
    EXPECT_EQ(RTPSessionGetEncryptionKey(context_, &value), RTP_OK);
    EXPECT_EQ(value, 99);

    rtp_member_event_callback_t event = [](int32_t, int32_t, int32_t, const char *) {};
    rtp_member_event_callback_t got = nullptr;
    EXPECT_EQ(RTPSetMemberEventCallback(context_, event), RTP_OK);
    EXPECT_EQ(RTPGetMemberEventCallback(context_, &got), RTP_OK);
    EXPECT_EQ(got, event);
}

TEST_F(Context, LowLevelContextHasNoTransport) {
    int32_t low = -1;
    ASSERT_EQ(RTPLowLevelCreate(&low), RTP_OK);
    EXPECT_EQ(RTPSessionAddSendAddr(low, "127.0.0.1", 5004, 0), RTP_UNKNOWN_CONTEXT);
    EXPECT_EQ(RTPLowLevelDestroy(low), RTP_OK);
}

TEST(Random, Random32DiffersBetweenCalls) {
    std::set<uint32_t> seen;
    for (int i = 0; i < 1000; ++i) {
        seen.insert(random32());
    }
    EXPECT_GT(seen.size(), 990u);
}

TEST(SsrcChoice, FixedBitsConfineTheChoice) {
    // The media bridge fixes every bit but the low four: SSRCs 0 to 15.
    for (int round = 0; round < 20; ++round) {
        int32_t c = -1;
        ASSERT_EQ(RTPCreate(&c), RTP_OK);
        ASSERT_EQ(RTPSessionSetSSRCBits(c, 0, 0xFFFFFFF0u), RTP_OK);
        char header[12];
        int32_t length = sizeof header;
        ASSERT_EQ(RTPBuildRTPHeader(c, 160, 0, 3, 0, 33, header, &length), RTP_OK);
        uint32_t ssrc = 0xFFFFFFFF;
        ASSERT_EQ(RTPMemberInfoGetSSRC(c, 0, &ssrc), RTP_OK);
        EXPECT_LE(ssrc, 15u);
        RTPDestroy(c);
    }
}

TEST(SsrcChoice, SkipsTakenSsrcsAndKeepsOldOneWhenAllCollide) {
    int32_t c = -1;
    ASSERT_EQ(RTPLowLevelCreate(&c), RTP_OK);
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(c, "test", &error);
    ASSERT_NE(ctx, nullptr);
    // Every candidate is 7 and a heard member holds 7: the own SSRC stays what it was.
    ctx->ssrc_fixed = 7;
    ctx->ssrc_mask = 0xFFFFFFFF;
    int32_t member = -1;
    char rr[8] = {static_cast<char>(0x80), static_cast<char>(201), 0, 1, 0, 0, 0, 7};
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = htons(7000);
    ASSERT_EQ(RTPPacketReceived(c, rr, sizeof rr, &from, sizeof from, 1, 0), RTP_OK);
    RTPChooseSSRC(ctx);
    EXPECT_EQ(ctx->ssrc, 0u);
    EXPECT_EQ(ctx->start_ssrc, 0u);
    // With one free bit the other value is taken.
    ctx->ssrc_mask = 0xFFFFFFFE;
    RTPChooseSSRC(ctx);
    EXPECT_EQ(ctx->ssrc, 6u);
    EXPECT_EQ(RTPMemberInfoGetSSRC(c, 0, reinterpret_cast<uint32_t *>(&member)), RTP_OK);
    EXPECT_EQ(member, 6);
    RTPLowLevelDestroy(c);
}

}  // namespace
}  // namespace sipline
