#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "rtp/context_internal.h"
#include "rtp/members_internal.h"
#include "rtp/rtp.h"
#include "rtp/tests/rtp_test_util.h"

namespace sipline {
namespace {

using rtp_test::free_port_pair;
using rtp_test::loopback;
using rtp_test::make_rr;
using rtp_test::make_rtp;
using rtp_test::put16;
using rtp_test::put32;
using rtp_test::rtp_packet_fields;
using rtp_test::udp_socket;
using ::testing::HasSubstr;

class Receive : public rtp_test::context_test {
  protected:
    rtperror rtp(std::vector<char> packet, uint16_t port = 7000, bool own = false) {
        sockaddr_in from = loopback(port);
        return RTPPacketReceived(context_, packet.data(), static_cast<int32_t>(packet.size()),
                                 &from, sizeof from, 0, own ? 1 : 0);
    }
    rtperror rtcp(std::vector<char> packet, uint16_t port = 7001, bool own = false) {
        sockaddr_in from = loopback(port);
        return RTPPacketReceived(context_, packet.data(), static_cast<int32_t>(packet.size()),
                                 &from, sizeof from, 1, own ? 1 : 0);
    }
    rtperror sequence(uint32_t ssrc, uint16_t seq, uint32_t ts = 0, uint8_t pt = 3) {
        rtp_packet_fields s;
        s.ssrc = ssrc;
        s.sequence = seq;
        s.timestamp = ts;
        s.payload_type = pt;
        return rtp(make_rtp(s));
    }
    // Delivers the packet itself, which the engine turns to host form in place, and reads it.
    void receive_in_place(std::vector<char> &p, rtp_packet_info_t *info) {
        sockaddr_in from = loopback(7000);
        ASSERT_EQ(RTPPacketReceived(context_, p.data(), static_cast<int32_t>(p.size()), &from,
                                    sizeof from, 0, 0),
                  RTP_OK);
        ASSERT_EQ(RTPGetRTPPacketInfo(info, p.data(), static_cast<int32_t>(p.size())), RTP_OK);
    }
    rtp_report_t report_for(uint32_t ssrc) {
        rtp_member_t *m = RTPMemberBySSRC(ctx_, ssrc);
        rtp_report_t r{};
        EXPECT_NE(m, nullptr);
        if (m != nullptr) {
            EXPECT_EQ(RTPSenderInfoGetFracLost(context_, m->id, &r), RTP_OK);
        }
        return r;
    }
};

TEST_F(Receive, SequenceWrapExtendsTheHighestSequenceNumber) {
    for (uint16_t seq : {65534, 65535, 0, 1}) {
        ASSERT_EQ(sequence(0x5150, seq), RTP_OK);
    }
    rtp_report_t r = report_for(0x5150);
    EXPECT_EQ(r.highest_sequence, 65537u);
    EXPECT_EQ(r.cumulative_lost, 0u) << "expected 4, received 4";
    EXPECT_EQ(r.fraction_lost, 0);
}

TEST_F(Receive, LossStatisticsTable) {
    struct row {
        const char *name;
        std::vector<uint16_t> sequences;
        uint32_t highest;
        uint32_t cumulative_lost;
        uint8_t fraction_lost;
    } rows[] = {
        {"in order", {10, 11, 12}, 12, 0, 0},
        {"one of five lost", {1, 2, 4, 5}, 5, 1, 51},
        {"repeat reads as 0xFFFFFF", {7, 7}, 7, 0xFFFFFF, 0},
        {"reordering keeps the highest", {20, 22, 21}, 22, 0, 0},
        {"half lost", {0, 2, 4, 6}, 6, 3, 109},
        {"a jump of more than half the space counts as a wrap", {40000, 100}, 65636, 25635, 255},
    };
    uint32_t ssrc = 0x1000;
    for (const auto &r : rows) {
        ++ssrc;
        for (uint16_t seq : r.sequences) {
            ASSERT_EQ(sequence(ssrc, seq), RTP_OK) << r.name;
        }
        rtp_report_t got = report_for(ssrc);
        EXPECT_EQ(got.highest_sequence, r.highest) << r.name;
        EXPECT_EQ(got.cumulative_lost, r.cumulative_lost) << r.name;
        EXPECT_EQ(got.fraction_lost, r.fraction_lost) << r.name;
        EXPECT_EQ(got.reporter, 0) << r.name;
    }
}

TEST_F(Receive, ReportBlockStartsANewIntervalOnlyWhenSent) {
    for (uint16_t seq : {1, 3}) {
        ASSERT_EQ(sequence(0x77, seq), RTP_OK);
    }
    rtp_member_t *m = RTPMemberBySSRC(ctx_, 0x77);
    rtp_report_t r{};
    RTPReportBlock(ctx_, m, false, &r);
    EXPECT_EQ(r.fraction_lost, 85);  // 1 of 3 expected
    RTPReportBlock(ctx_, m, true, &r);
    EXPECT_EQ(r.fraction_lost, 85);
    for (uint16_t seq : {4, 5}) {
        ASSERT_EQ(sequence(0x77, seq), RTP_OK);
    }
    RTPReportBlock(ctx_, m, false, &r);
    EXPECT_EQ(r.fraction_lost, 0) << "nothing lost in the new interval";
    EXPECT_EQ(r.cumulative_lost, 1u);
}

TEST_F(Receive, JitterFollowsTheTimestampSteps) {
    // Payload type 96 has no clock rate: the arrival term is 0 and the jitter is the
    // filtered timestamp difference (RFC 1889 appendix A.8).
    ASSERT_EQ(sequence(0x99, 1, 0, 96), RTP_OK);
    ASSERT_EQ(sequence(0x99, 2, 100, 96), RTP_OK);
    EXPECT_EQ(report_for(0x99).jitter, 100u);
    ASSERT_EQ(sequence(0x99, 3, 300, 96), RTP_OK);
    EXPECT_EQ(report_for(0x99).jitter, 106u);  // 100 * 15/16 + 200 / 16
}

TEST_F(Receive, InvalidRtpChangesNoCounter) {
    rtp_packet_fields v1;
    v1.version = 1;
    EXPECT_EQ(rtp(make_rtp(v1)), RTP_BAD_PACKET_FORMAT);
    EXPECT_THAT(RTPLastErrorText(),
                HasSubstr("context " + std::to_string(context_) + ", invalid RTP packet format"));
    EXPECT_EQ(RTPMemberBySSRC(ctx_, v1.ssrc), nullptr);
    int32_t member = -1;
    EXPECT_EQ(RTPMostRecentRTPPerson(context_, &member), RTP_NO_SUCH_PERSON);
    sockaddr_in recent{};
    EXPECT_EQ(RTPMostRecentAddr(context_, &recent), RTP_OK)
        << "a bad datagram still sets the most recent address";
}

TEST_F(Receive, PacketsShorterThanTheirOwnFieldsAreRefused) {
    auto with = [](std::vector<char> p, size_t at, char byte) {
        p[at] = byte;
        return p;
    };
    rtp_packet_fields plain;
    plain.payload = 0;
    std::vector<char> header = make_rtp(plain);
    struct row {
        const char *name;
        std::vector<char> packet;
    } rows[] = {
        {"shorter than the fixed header", std::vector<char>(header.begin(), header.begin() + 11)},
        {"CSRC count beyond the end", with(header, 0, static_cast<char>(0x82))},
        {"extension flag without room", with(header, 0, static_cast<char>(0x90))},
        {"extension longer than the packet",
         [&] {
             std::vector<char> p = with(header, 0, static_cast<char>(0x90));
             p.resize(20, 0);
             put16(p, 14, 3);  // three words announced, one present
             return p;
         }()},
        {"padding count beyond the payload",
         [&] {
             std::vector<char> p = with(header, 0, static_cast<char>(0xA0));
             p.push_back(0);
             p.push_back(9);
             return p;
         }()},
        {"empty datagram", {}},
    };
    for (auto &r : rows) {
        // Exact-size heap copies: reading one byte past the end shows under AddressSanitizer.
        auto exact = std::make_unique<char[]>(r.packet.size());
        if (!r.packet.empty()) {
            std::memcpy(exact.get(), r.packet.data(), r.packet.size());
        }
        sockaddr_in from = loopback(7000);
        EXPECT_EQ(RTPPacketReceived(context_, exact.get(), static_cast<int32_t>(r.packet.size()),
                                    &from, sizeof from, 0, 0),
                  RTP_BAD_PACKET_FORMAT)
            << r.name;
    }
    EXPECT_EQ(ctx_->members.count, 1) << "only the own member";
}

TEST_F(Receive, PaddingIsLeftOutOfThePayload) {
    rtp_packet_fields s;
    s.padding = true;
    s.payload = 160;
    std::vector<char> p = make_rtp(s);
    ASSERT_EQ(rtp(p), RTP_OK);
    // rtp() got a copy; convert this one the same way and read it.
    rtp_packet_info_t info{};
    ASSERT_NO_FATAL_FAILURE(receive_in_place(p, &info));
    EXPECT_EQ(info.payload_length, 156);
    EXPECT_EQ(info.payload, p.data() + 12);
    EXPECT_EQ(info.extension, nullptr);
}

TEST_F(Receive, HostFormOfTheRtpHeader) {
    rtp_packet_fields s;
    s.marker = true;
    s.payload_type = 96;
    s.sequence = 0x1234;
    s.timestamp = 0xDEADBEEF;
    s.ssrc = 0xCAFEF00D;
    s.csrcs = {0x01020304, 0x05060708};
    std::vector<char> p = make_rtp(s);
    rtp_packet_info_t info{};
    ASSERT_NO_FATAL_FAILURE(receive_in_place(p, &info));
    EXPECT_EQ(info.header->version, 2);
    EXPECT_EQ(info.header->cc, 2);
    EXPECT_EQ(info.header->m, 1);
    EXPECT_EQ(info.header->pt, 96);
    EXPECT_EQ(info.header->seq, 0x1234);
    EXPECT_EQ(info.header->ts, 0xDEADBEEFu);
    EXPECT_EQ(info.header->ssrc, 0xCAFEF00Du);
    EXPECT_EQ(ntohl(RTPGetCSRC(&info, 1)), 0x05060708u) << "CSRCs stay in network order";
    EXPECT_EQ(RTPGetCSRC(&info, 2), 0u);
    EXPECT_EQ(info.payload_length, 33);
    // Both CSRCs became contributor members.
    rtp_member_t *c = RTPMemberBySSRC(ctx_, 0x01020304);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->state, RTP_MEMBER_NEW_CONTRIBUTOR);
    EXPECT_EQ(c->csrc_heard, 1u);
}

TEST_F(Receive, RtcpCompoundValidation) {
    std::vector<char> rr = make_rr(0xAB);
    std::vector<char> four_more = rr;
    four_more.resize(rr.size() + 4, 0);
    std::vector<char> too_long = rr;
    put16(too_long, 2, 3);
    std::vector<char> app(12, 0);
    app[0] = static_cast<char>(0x80);
    app[1] = static_cast<char>(RTCP_APP);
    put16(app, 2, 2);
    struct row {
        const char *name;
        std::vector<char> packet;
        rtperror result;
    } rows[] = {
        {"lengths add up to 4 less than the datagram", four_more, RTP_BAD_PACKET_FORMAT},
        {"length beyond the datagram", too_long, RTP_BAD_PACKET_FORMAT},
        {"first packet with padding", make_rr(0xAB, true), RTP_BAD_PACKET_FORMAT},
        {"first packet APP", app, RTP_BAD_PACKET_FORMAT},
        {"not a multiple of four", std::vector<char>(rr.begin(), rr.begin() + 6),
         RTP_BAD_PACKET_FORMAT},
        {"a plain RR", rr, RTP_OK},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(rtcp(r.packet), r.result) << r.name;
    }
    EXPECT_EQ(rtcp(app), RTP_BAD_PACKET_FORMAT);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr(", invalid RTCP packet format"));
    EXPECT_EQ(rtcp(rr), RTP_OK) << "the context takes the next call after a refusal";
}

TEST_F(Receive, CompoundOfMoreThan200PacketsIsRefused) {
    std::vector<char> compound;
    for (int i = 0; i < 201; ++i) {
        std::vector<char> rr = make_rr(0xAB);
        compound.insert(compound.end(), rr.begin(), rr.end());
    }
    EXPECT_EQ(rtcp(compound), RTP_BAD_PACKET_FORMAT);
    compound.resize(200 * 8);
    EXPECT_EQ(rtcp(compound), RTP_OK);
}

TEST_F(Receive, RtcpHostFormAndAccessors) {
    // SR with one report block, then a BYE with a reason.
    std::vector<char> p(52 + 16, 0);
    p[0] = static_cast<char>(0x81);
    p[1] = static_cast<char>(RTCP_SR);
    put16(p, 2, 12);
    put32(p, 4, 0x5E5E);
    put32(p, 8, 0xE0000001);
    put32(p, 12, 0x80000000);
    put32(p, 16, 1000);
    put32(p, 20, 7);
    put32(p, 24, 231);
    put32(p, 28, 0xB0B0);
    p[32] = 25;  // fraction lost
    p[33] = 0;
    p[34] = 1;
    p[35] = 2;  // cumulative 0x000102
    put32(p, 36, 65537);
    p[52] = static_cast<char>(0x81);
    p[53] = static_cast<char>(RTCP_BYE);
    put16(p, 54, 3);
    put32(p, 56, 0x5E5E);
    p[60] = 5;
    std::memcpy(&p[61], "leave", 5);
    sockaddr_in from = loopback(7001);
    ASSERT_EQ(RTPPacketReceived(context_, p.data(), static_cast<int32_t>(p.size()), &from,
                                sizeof from, 1, 0),
              RTP_OK);
    char *packets[RTCP_MAX_COMPOUND];
    ASSERT_EQ(RTPSplitCompound(p.data(), packets, static_cast<int32_t>(p.size())), 2);
    rtcp_packet_info_t info{};
    ASSERT_EQ(RTPGetRTCPPacketInfo(&info, packets[0]), RTP_OK);
    EXPECT_EQ(info.packet->version, 2);
    EXPECT_EQ(info.packet->count, 1);
    EXPECT_EQ(info.packet->pt, RTCP_SR);
    EXPECT_EQ(info.packet->length, 12);
    rtcp_sr_t sr{};
    std::memcpy(&sr, packets[0] + 4, sizeof sr);
    EXPECT_EQ(sr.ssrc, 0x5E5Eu);
    EXPECT_EQ(sr.ntp_sec, 0xE0000001u);
    EXPECT_EQ(sr.octets, 231u);
    rtcp_rr_t block{};
    std::memcpy(&block, info.position, sizeof block);
    EXPECT_EQ(block.ssrc, 0xB0B0u);
    EXPECT_EQ(block.loss & 0xFF, 25u);
    EXPECT_EQ(block.loss >> 8, 0x102u);
    EXPECT_EQ(block.last_seq, 65537u);
    ASSERT_EQ(RTPGetRTCPPacketInfo(&info, packets[1]), RTP_OK);
    EXPECT_EQ(info.packet->pt, RTCP_BYE);
    ASSERT_EQ(info.reason_length, 5);
    EXPECT_EQ(std::string(info.reason, info.reason_length), "leave");
}

TEST_F(Receive, OwnPacketsComingBackAreLoopedBack) {
    char header[12];
    int32_t length = sizeof header;
    ASSERT_EQ(RTPBuildRTPHeader(context_, 160, 0, 3, 0, 0, header, &length), RTP_OK);
    rtp_packet_fields s;
    s.ssrc = ctx_->ssrc;
    EXPECT_EQ(rtp(make_rtp(s), 7000, true), RTP_PACKET_LOOPBACK);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("got my own RTP packet"));
    EXPECT_EQ(rtcp(make_rr(ctx_->ssrc), 7001, true), RTP_PACKET_LOOPBACK);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("got my own RTCP packet"));
    EXPECT_EQ(ctx_->members.count, 1);

    // The same SSRC from another port is another participant.
    ASSERT_EQ(rtp(make_rtp(s), 9000, false), RTP_OK);
    int32_t member = -1;
    ASSERT_EQ(RTPMostRecentRTPPerson(context_, &member), RTP_OK);
    EXPECT_NE(member, 0);
    ASSERT_EQ(rtp(make_rtp(s), 9000, false), RTP_OK);
    int32_t again = -1;
    ASSERT_EQ(RTPMostRecentRTPPerson(context_, &again), RTP_OK);
    EXPECT_EQ(again, member) << "its next packet finds the same member";
}

TEST_F(Receive, PeerUsingSsrcZeroBeforeWeChoseOursIsNoCollision) {
    static int collisions;
    collisions = 0;
    RTPSetCollisionCallback(context_, [](int32_t, int32_t, int32_t, int32_t) { collisions++; });
    struct row {
        const char *name;
        std::function<rtperror()> receive;
    };
    const row rows[] = {
        {"RTP", [&] { return sequence(0, 1); }},
        {"RTP again", [&] { return sequence(0, 2); }},
        {"RR", [&] { return rtcp(make_rr(0)); }},
    };
    for (const row &r : rows) {
        ASSERT_EQ(r.receive(), RTP_OK) << r.name;
        EXPECT_EQ(collisions, 0) << r.name << ": our SSRC is not chosen yet";
        rtp_member_t *peer = RTPMemberBySSRC(ctx_, 0);
        ASSERT_NE(peer, nullptr) << r.name;
        EXPECT_NE(peer, ctx_->own) << r.name << ": the peer is a member of its own";
    }
    EXPECT_EQ(ctx_->own->ssrc_heard, 0u) << "nothing was counted on our own member";
    EXPECT_EQ(ctx_->own->collision, 0);
    EXPECT_EQ(ctx_->ssrc, 0u) << "no new SSRC was forced on us";
    EXPECT_EQ(ctx_->members.count, 2);

    // Choosing ours later passes over the peer's.
    char header[12];
    int32_t length = sizeof header;
    ASSERT_EQ(RTPBuildRTPHeader(context_, 160, 0, 3, 0, 0, header, &length), RTP_OK);
    EXPECT_NE(ctx_->ssrc, 0u);
    EXPECT_EQ(RTPMemberBySSRC(ctx_, ctx_->ssrc), ctx_->own);
    EXPECT_NE(RTPMemberBySSRC(ctx_, 0), ctx_->own);
    EXPECT_EQ(collisions, 0);
}

TEST_F(Receive, ReentrantProcessingIsRefused) {
    static int32_t nested_context;
    static rtperror nested;
    nested_context = context_;
    nested = RTP_OK;
    RTPSetMemberEventCallback(context_, [](int32_t, int32_t, int32_t event, const char *) {
        if (event == RTP_EVENT_NEW_MEMBER) {
            std::vector<char> p = make_rtp({});
            nested = RTPPacketReceived(nested_context, p.data(), static_cast<int32_t>(p.size()),
                                       nullptr, 0, 0, 0);
        }
    });
    ASSERT_EQ(sequence(0x42, 1), RTP_OK);
    EXPECT_EQ(nested, RTP_CANT_CALL_FUNCTION);
}

TEST(NtpTime, ConvertsMicrosecondsToA32BitFraction) {
    struct row {
        int32_t sec, usec;
        uint32_t high, low;
    } rows[] = {
        {0, 0, 2208988800u, 0},
        {1, 500000, 2208988801u, 2147484375u},
        {100, 999999, 2208988900u, 4294964456u},
    };
    for (const auto &r : rows) {
        uint32_t high = 0, low = 0;
        RTPNtpTime(timeval{r.sec, r.usec}, &high, &low);
        EXPECT_EQ(high, r.high);
        EXPECT_EQ(low, r.low);
    }
}

class TwoContexts : public ::testing::Test {
  protected:
    void SetUp() override {
        for (auto *side : {&a_, &b_}) {
            ASSERT_EQ(RTPCreate(&side->context), RTP_OK);
            side->port = free_port_pair();
            ASSERT_EQ(RTPSessionSetReceiveAddr(side->context, "127.0.0.1", side->port), RTP_OK);
            ASSERT_EQ(RTPOpenConnection(side->context), RTP_OK);
            ASSERT_EQ(RTPSessionGetRTPSocket(side->context, &side->rtp_socket), RTP_OK);
        }
        ASSERT_EQ(RTPSessionAddSendAddr(a_.context, "127.0.0.1", b_.port, 0), RTP_OK);
        ASSERT_EQ(RTPSessionAddSendAddr(b_.context, "127.0.0.1", a_.port, 0), RTP_OK);
    }
    void TearDown() override {
        RTPDestroy(a_.context);
        RTPDestroy(b_.context);
    }
    struct peer {
        int32_t context = -1;
        uint16_t port = 0;
        int rtp_socket = -1;
    };
    peer a_, b_;
};

TEST_F(TwoContexts, ExchangeGsmFramesOverLoopback) {
    for (const auto &[from, to] : {std::pair{&a_, &b_}, std::pair{&b_, &a_}}) {
        uint32_t sender_ssrc = 0;
        for (int i = 0; i < 5; ++i) {
            char frame[33];
            std::memset(frame, 'A' + i, sizeof frame);
            ASSERT_EQ(RTPSend(from->context, 160, i == 0, 3, frame, sizeof frame), RTP_OK);
            ASSERT_TRUE(rtp_test::readable(to->rtp_socket));
            char buffer[1500];
            int32_t length = sizeof buffer;
            ASSERT_EQ(RTPReceive(to->context, to->rtp_socket, buffer, &length), RTP_OK)
                << RTPLastErrorText();
            ASSERT_EQ(length, 45);
            rtp_packet_info_t info{};
            ASSERT_EQ(RTPGetRTPPacketInfo(&info, buffer, length), RTP_OK);
            EXPECT_EQ(info.header->pt, 3);
            EXPECT_EQ(info.header->m, i == 0 ? 1 : 0);
            EXPECT_EQ(info.payload_length, 33);
            EXPECT_EQ(info.payload[0], 'A' + i);
            ASSERT_EQ(RTPMemberInfoGetSSRC(from->context, 0, &sender_ssrc), RTP_OK);
            EXPECT_EQ(info.header->ssrc, sender_ssrc);
        }
        int32_t member = -1;
        ASSERT_EQ(RTPMostRecentRTPPerson(to->context, &member), RTP_OK);
        uint32_t ssrc = 0;
        ASSERT_EQ(RTPMemberInfoGetSSRC(to->context, member, &ssrc), RTP_OK);
        EXPECT_EQ(ssrc, sender_ssrc);
        int32_t state = -1, sender = -1;
        ASSERT_EQ(RTPMemberInfoGetStatus(to->context, member, &state, &sender), RTP_OK);
        EXPECT_EQ(state, RTP_MEMBER_CONFIRMED);
        EXPECT_EQ(sender, RTP_SENDER_SENDING);
        rtp_report_t report{};
        ASSERT_EQ(RTPSenderInfoGetFracLost(to->context, member, &report), RTP_OK);
        EXPECT_EQ(report.cumulative_lost, 0u);
        const char *address = nullptr, *port = nullptr;
        ASSERT_EQ(RTPMostRecentAddrText(to->context, &address, &port), RTP_OK);
        EXPECT_STREQ(address, "127.0.0.1");
        ASSERT_EQ(RTPMemberInfoGetRTPAddrText(to->context, member, &address, &port), RTP_OK);
        EXPECT_STREQ(address, "127.0.0.1");
    }
}

TEST_F(TwoContexts, DatagramThatExactlyFillsTheBufferIsAccepted) {
    char frame[33] = {};
    ASSERT_EQ(RTPSend(a_.context, 160, 0, 3, frame, sizeof frame), RTP_OK);
    ASSERT_TRUE(rtp_test::readable(b_.rtp_socket));
    char buffer[45];
    int32_t length = sizeof buffer;
    EXPECT_EQ(RTPReceive(b_.context, b_.rtp_socket, buffer, &length), RTP_OK);
    EXPECT_EQ(length, 45);
}

TEST_F(TwoContexts, DatagramTooLargeIsRefusedWithItsSizeAndTheNextOneStillArrives) {
    char big[34] = {};
    char frame[33] = {};
    ASSERT_EQ(RTPSend(a_.context, 160, 0, 3, big, sizeof big), RTP_OK);
    ASSERT_EQ(RTPSend(a_.context, 160, 0, 3, frame, sizeof frame), RTP_OK);
    ASSERT_TRUE(rtp_test::readable(b_.rtp_socket));
    char buffer[45];
    int32_t length = sizeof buffer;
    EXPECT_EQ(RTPReceive(b_.context, b_.rtp_socket, buffer, &length), RTP_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 46) << "the size the caller would need";
    ASSERT_TRUE(rtp_test::readable(b_.rtp_socket));
    length = sizeof buffer;
    EXPECT_EQ(RTPReceive(b_.context, b_.rtp_socket, buffer, &length), RTP_OK);
    EXPECT_EQ(length, 45);
}

TEST_F(TwoContexts, ForeignSocketIsRefused) {
    char buffer[64];
    int32_t length = sizeof buffer;
    EXPECT_EQ(RTPReceive(b_.context, a_.rtp_socket, buffer, &length), RTP_SOCKET_MISMATCH);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("socket provided not RTP socket nor RTCP socket"));
}

TEST(Multicast, OwnPacketsEchoedByTheGroupAreLoopedBack) {
    int32_t c = -1;
    rtperror opened = RTP_CANT_BIND_SOCKET;
    // Another process may bind the probed pair before the context does: probe again.
    for (int attempt = 0; attempt < 5 && opened == RTP_CANT_BIND_SOCKET; ++attempt) {
        if (c >= 0) {
            RTPDestroy(c);
        }
        ASSERT_EQ(RTPCreate(&c), RTP_OK);
        uint16_t port = free_port_pair();
        ASSERT_EQ(RTPSessionAddSendAddr(c, "239.255.77.77", port, 1), RTP_OK);
        ASSERT_EQ(RTPSessionSetReceiveAddr(c, "239.255.77.77", port), RTP_OK);
        opened = RTPOpenConnection(c);
    }
    ASSERT_EQ(opened, RTP_OK);
    int socket = -1;
    ASSERT_EQ(RTPSessionGetRTPSocket(c, &socket), RTP_OK);
    char frame[33] = {};
    rtperror sent = RTPSend(c, 160, 0, 3, frame, sizeof frame);
    if (sent != RTP_OK || !rtp_test::readable(socket, 500)) {
        RTPDestroy(c);
        GTEST_SKIP() << "no multicast route on this host";
    }
    char buffer[1500];
    int32_t length = sizeof buffer;
    EXPECT_EQ(RTPReceive(c, socket, buffer, &length), RTP_PACKET_LOOPBACK);
    RTPDestroy(c);
}

}  // namespace
}  // namespace sipline
