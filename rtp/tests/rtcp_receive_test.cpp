// Received RTCP updating the member table: reports, SDES, BYE, APP, SSRC collisions (our own
// SSRC included), merges and the time-out pass, with the engine's clock in the test's hand.
#include "rtp/tests/rtcp_test_support.h"

#include <algorithm>

namespace sipline {
namespace {

using test::Compound;

struct Event {
    int32_t member, code;
    std::string extra;
};
std::vector<Event> events;
std::vector<std::vector<int32_t>> collisions, merges;
std::vector<std::pair<int32_t, int32_t>> sdes_changes;  // member, item

class RtcpReceive : public ::testing::Test {
  protected:
    void SetUp() override {
        rtp_set_clock(test::FakeClock);
        events.clear();
        collisions.clear();
        merges.clear();
        sdes_changes.clear();
        ASSERT_EQ(RTPCreate(&context), 0);
        ASSERT_EQ(
            RTPSetMemberEventCallback(context,
                                      [](int32_t, int32_t member, int32_t code, const char *extra) {
                                          events.push_back({member, code, extra ? extra : ""});
                                      }),
            0);
        ASSERT_EQ(
            RTPSetCollisionCallback(context,
                                    [](int32_t, int32_t holder, int32_t newcomer, int32_t code) {
                                        collisions.push_back({holder, newcomer, code});
                                    }),
            0);
        ASSERT_EQ(RTPSetSDESChangeCallback(
                      context,
                      [](int32_t, int32_t member, int32_t item, const char *, int32_t) {
                          sdes_changes.push_back({member, item});
                      }),
                  0);
        ASSERT_EQ(RTPMemberInfoSetSDES(context, 0, RTP_SDES_CNAME, "me@127.0.0.1"), 0);
    }
    void TearDown() override {
        RTPDestroy(context);
        test::DrainScheduled();
        rtp_set_clock(nullptr);
    }
    rtperror Deliver(const Compound &c, const sockaddr_in &from) {
        std::vector<uint8_t> copy = c.bytes;
        return RTPPacketReceived(context, reinterpret_cast<char *>(copy.data()),
                                 static_cast<int32_t>(copy.size()), &from, sizeof from, 1, 0);
    }
    int32_t Member(uint32_t ssrc) {
        rtp_member_iterator_t it;
        int32_t member = -1;
        for (rtperror e = RTPFirstMember(context, &it, &member); e == 0;
             e = RTPNextMember(context, &it, &member)) {
            uint32_t s = 0;
            RTPMemberInfoGetSSRC(context, member, &s);
            if (s == ssrc && member != 0) {
                return member;
            }
        }
        return -1;
    }
    std::string Sdes(int32_t member, int32_t item) {
        const char *text = nullptr;
        if (RTPMemberInfoGetSDES(context, member, item, &text) != 0) {
            return "(none)";
        }
        return text;
    }
    int Count(int32_t member, int32_t code) {
        return static_cast<int>(std::count_if(events.begin(), events.end(), [&](const Event &e) {
            return e.member == member && e.code == code;
        }));
    }
    // Opens the connection towards peer and sends one RTP packet: our own member is then a
    // sender with a chosen SSRC.
    void OpenAndSendTo(test::PeerSockets &peer) {
        ASSERT_EQ(RTPSessionSetReceiveAddr(context, "127.0.0.1", 0), 0);
        ASSERT_EQ(RTPSessionAddSendAddr(context, "127.0.0.1", peer.port(), 0), 0);
        ASSERT_EQ(RTPOpenConnection(context), 0);
        uint8_t frame[33] = {};
        ASSERT_EQ(RTPSend(context, 160, 0, 3, frame, sizeof frame), 0);
    }
    uint32_t OwnSSRC() {
        uint32_t ssrc = 0;
        RTPMemberInfoGetSSRC(context, 0, &ssrc);
        return ssrc;
    }

    int32_t context = -1;
    const sockaddr_in alice = test::Address("127.0.0.2", 6000);
    const sockaddr_in bob = test::Address("127.0.0.3", 6000);
};

TEST_F(RtcpReceive, SenderReportAndSdesFillTheMember) {
    Compound c;
    c.SR(0xA11CE, 0xE0000001, 0x80000000, 12345, 50, 1650)
        .SDES({{0xA11CE, {{1, "alice@host"}, {2, "Alice"}}}});
    ASSERT_EQ(Deliver(c, alice), 0);
    int32_t m = Member(0xA11CE);
    ASSERT_GE(m, 1);
    EXPECT_EQ(Sdes(m, RTP_SDES_CNAME), "alice@host");
    EXPECT_EQ(Sdes(m, RTP_SDES_NAME), "Alice");
    uint32_t sec = 0, frac = 0, rtp = 0, packets = 0, octets = 0, rtcp_packets = 0;
    RTPMemberInfoGetNTP(context, m, &sec, &frac);
    RTPMemberInfoGetRTP(context, m, &rtp);
    RTPMemberInfoGetPktCount(context, m, &packets);
    RTPMemberInfoGetOctCount(context, m, &octets);
    RTPMemberInfoGetRTCPPktCount(context, m, &rtcp_packets);
    EXPECT_EQ(sec, 0xE0000001u);
    EXPECT_EQ(frac, 0x80000000u);
    EXPECT_EQ(rtp, 12345u);
    EXPECT_EQ(packets, 50u);
    EXPECT_EQ(octets, 1650u);
    EXPECT_EQ(rtcp_packets, 1u) << "one compound";
    int32_t state = -1, sender = -1;
    RTPMemberInfoGetStatus(context, m, &state, &sender);
    EXPECT_EQ(state, RTP_MEMBER_CONFIRMED) << "its CNAME confirms it";
    EXPECT_EQ(Count(m, RTP_EVENT_CONFIRMED), 1);
    EXPECT_EQ(sdes_changes, (std::vector<std::pair<int32_t, int32_t>>{{m, 1}, {m, 2}}));
    int32_t recent = -1;
    ASSERT_EQ(RTPMostRecentRTCPPerson(context, &recent), 0);
    EXPECT_EQ(recent, m);

    // The same items again change nothing; a new NAME replaces the old one.
    Compound again;
    again.RR(0xA11CE).SDES({{0xA11CE, {{1, "ALICE@HOST"}, {2, "Alice B."}}}});
    ASSERT_EQ(Deliver(again, alice), 0);
    EXPECT_EQ(Sdes(m, RTP_SDES_CNAME), "alice@host") << "CNAMEs compare without case";
    EXPECT_EQ(Sdes(m, RTP_SDES_NAME), "Alice B.");
    EXPECT_EQ(sdes_changes.size(), 3u);
}

TEST_F(RtcpReceive, ReportBlockAboutASenderGoesIntoItsReportTable) {
    // We send RTP, so our own member is a sender that others report on.
    test::PeerSockets peer;
    ASSERT_NO_FATAL_FAILURE(OpenAndSendTo(peer));
    Compound c;
    c.RR(0xA11CE, {{OwnSSRC(), 12, 7, 1000, 33, 0x1234, 0x10000}});
    ASSERT_EQ(Deliver(c, alice), 0);
    int32_t reporter = Member(0xA11CE);
    rtp_report_iterator_t it;
    rtp_report_t report{};
    ASSERT_EQ(RTPSenderInfoGetFirstReceiverReport(context, 0, &it, &report), 0);
    EXPECT_EQ(report.reporter, reporter);
    EXPECT_EQ(report.fraction_lost, 12);
    EXPECT_EQ(report.cumulative_lost, 7u);
    EXPECT_EQ(report.highest_sequence, 1000u);
    EXPECT_EQ(report.jitter, 33u);
    EXPECT_EQ(report.lsr, 0x1234u);
    EXPECT_EQ(report.dlsr, 0x10000u);
}

TEST_F(RtcpReceive, ByeForAnUnknownSsrcCreatesAndDeletesAtOnce) {
    Compound c;
    c.BYE({0xB0B}, "gone fishing");
    ASSERT_EQ(Deliver(c, bob), 0);
    ASSERT_GE(events.size(), 2u);
    int32_t m = events.front().member;
    EXPECT_EQ(events.front().code, RTP_EVENT_NEW_MEMBER);
    EXPECT_EQ(Count(m, RTP_EVENT_BYE), 1);
    auto bye = std::find_if(events.begin(), events.end(),
                            [](const Event &e) { return e.code == RTP_EVENT_BYE; });
    EXPECT_EQ(bye->extra, "gone fishing");
    EXPECT_EQ(Member(0xB0B), -1);
    uint32_t ssrc;
    EXPECT_EQ(RTPMemberInfoGetSSRC(context, m, &ssrc), RTP_NO_SUCH_PERSON);
}

TEST_F(RtcpReceive, ByeOfAKnownMemberWithAndWithoutReason) {
    Compound hello;
    hello.RR(0xA11CE).SDES({{0xA11CE, {{1, "alice@host"}}}});
    ASSERT_EQ(Deliver(hello, alice), 0);
    int32_t m = Member(0xA11CE);
    Compound bye;
    bye.RR(0xA11CE).BYE({0xA11CE}, "");
    ASSERT_EQ(Deliver(bye, alice), 0);
    EXPECT_EQ(Count(m, RTP_EVENT_BYE), 1);
    EXPECT_EQ(events.back().extra, "") << "no reason";
    EXPECT_EQ(Member(0xA11CE), -1);
}

TEST_F(RtcpReceive, ByeNamingOurOwnSsrcLeavesUsInPlace) {
    const uint32_t own = OwnSSRC();
    Compound c;
    c.BYE({own}, "spoofed");
    ASSERT_EQ(Deliver(c, bob), 0);
    uint32_t ssrc = 1;
    EXPECT_EQ(RTPMemberInfoGetSSRC(context, 0, &ssrc), 0);
    EXPECT_EQ(Sdes(0, RTP_SDES_CNAME), "me@127.0.0.1");
    EXPECT_EQ(Count(0, RTP_EVENT_BYE), 0);
}

TEST_F(RtcpReceive, SharedCnameMergesIntoTheOlderRecord) {
    static std::vector<std::vector<int32_t>> merge_calls;
    merge_calls.clear();
    ASSERT_EQ(RTPSetMergeCallback(context,
                                  [](int32_t, int32_t kept, int32_t merged, int32_t word, int32_t) {
                                      merge_calls.push_back({kept, merged, word});
                                  }),
              0);
    Compound first;
    first.SR(0x1111, 1, 0, 100, 10, 330).SDES({{0x1111, {{1, "carol@host"}, {2, "Carol"}}}});
    ASSERT_EQ(Deliver(first, alice), 0);
    const int32_t older = Member(0x1111);
    // Carol's tool restarts with a new SSRC (RFC 1889 section 8.2: the CNAME binds them).
    Compound second;
    second.RR(0x2222).SDES({{0x2222, {{1, "carol@host"}, {4, "+1 555"}}}});
    ASSERT_EQ(Deliver(second, alice), 0);
    const int32_t newer = Member(0x2222);
    ASSERT_EQ(newer, older) << "the kept record now has the newer SSRC";
    ASSERT_EQ(merge_calls.size(), 1u);
    EXPECT_EQ(merge_calls[0][0], older);
    const int32_t merged = merge_calls[0][1];
    EXPECT_GT(merged, older);
    uint32_t ssrc = 0;
    ASSERT_EQ(RTPMemberInfoGetSSRC(context, merged, &ssrc), 0) << "the merged id still finds it";
    EXPECT_EQ(ssrc, 0x2222u);
    EXPECT_EQ(Sdes(merged, RTP_SDES_NAME), "Carol");
    EXPECT_EQ(Sdes(older, RTP_SDES_PHONE), "+1 555");
    uint32_t packets = 0;
    RTPMemberInfoGetPktCount(context, older, &packets);
    EXPECT_EQ(packets, 10u) << "SR data of the older record stays";
    EXPECT_EQ(Member(0x1111), -1) << "one record for Carol";
    int32_t found = -1;
    ASSERT_EQ(RTPFindMember(context, RTP_SDES_CNAME, "carol@host", &found), 0);
    EXPECT_EQ(found, older);
}

TEST_F(RtcpReceive, MergeInALaterChunkFoldsTheFirstChunksRecord) {
    Compound early;
    early.RR(0x1212);
    ASSERT_EQ(Deliver(early, alice), 0);
    const int32_t older = Member(0x1212);
    // The first chunk's record is new; the second chunk names the older record with the same
    // CNAME, so the first chunk's record is merged away while the packet is still being read.
    Compound c;
    c.SDES({{0x3434, {{1, "zoe@host"}}}, {0x1212, {{1, "zoe@host"}}}});
    ASSERT_EQ(Deliver(c, alice), 0);
    int32_t found = -1;
    ASSERT_EQ(RTPFindMember(context, RTP_SDES_CNAME, "zoe@host", &found), 0);
    EXPECT_EQ(found, older);
    int32_t recent = -1;
    ASSERT_EQ(RTPMostRecentRTCPPerson(context, &recent), 0);
    EXPECT_EQ(recent, older);
}

TEST_F(RtcpReceive, ForeignPacketWithOurCnameIsRefused) {
    Compound c;
    c.RR(0x3333).SDES({{0x3333, {{1, "me@127.0.0.1"}, {2, "Mallory"}}}});
    ASSERT_EQ(Deliver(c, bob), 0);
    EXPECT_NE(std::string(RTPLastErrorText()).find("got a foreign packet with our CNAME"),
              std::string::npos);
    int32_t m = Member(0x3333);
    EXPECT_EQ(Sdes(m, RTP_SDES_CNAME), "");
    EXPECT_EQ(Sdes(m, RTP_SDES_NAME), "") << "the rest of the packet is not taken";
    EXPECT_EQ(Sdes(0, RTP_SDES_NAME), "");
}

TEST_F(RtcpReceive, CollisionWithOurOwnSsrcSaysByeAndChoosesAnother) {
    test::PeerSockets peer;
    ASSERT_NO_FATAL_FAILURE(OpenAndSendTo(peer));
    const uint32_t old = OwnSSRC();
    ASSERT_NE(old, 0u);

    Compound c;
    c.RR(old).SDES({{old, {{1, "dave@elsewhere"}}}});
    ASSERT_EQ(Deliver(c, bob), 0);

    ASSERT_EQ(collisions.size(), 1u);
    EXPECT_EQ(collisions[0][0], 0) << "we held the SSRC";
    EXPECT_EQ(collisions[0][2], RTP_COLLISION_OWN);
    const int32_t dave = collisions[0][1];
    EXPECT_NE(OwnSSRC(), old);
    uint32_t dave_ssrc = 0;
    ASSERT_EQ(RTPMemberInfoGetSSRC(context, dave, &dave_ssrc), 0);
    EXPECT_EQ(dave_ssrc, old);
    EXPECT_EQ(Sdes(dave, RTP_SDES_CNAME), "dave@elsewhere");
    EXPECT_EQ(Sdes(0, RTP_SDES_CNAME), "me@127.0.0.1");

    // The session was idle, so the BYE for the old SSRC left at once.
    auto d = peer.Receive();
    ASSERT_TRUE(d);
    auto packets = test::Split(*d);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].type, 203);
    EXPECT_EQ(packets[1].Word(4), old);
    EXPECT_EQ(test::ByeReason(packets[1]), "Leaving to resolve a collision");

    // Dave's next packets reach Dave's record, and our reports carry the new SSRC.
    Compound more;
    more.RR(old).SDES({{old, {{1, "dave@elsewhere"}, {2, "Dave"}}}});
    ASSERT_EQ(Deliver(more, bob), 0);
    EXPECT_EQ(Sdes(dave, RTP_SDES_NAME), "Dave");
    EXPECT_EQ(Sdes(0, RTP_SDES_NAME), "");
    EXPECT_EQ(collisions.size(), 1u);
}

TEST_F(RtcpReceive, TwoParticipantsOnOneSsrcAreChained) {
    Compound a;
    a.RR(0x4444).SDES({{0x4444, {{1, "erin@a"}}}});
    ASSERT_EQ(Deliver(a, alice), 0);
    Compound b;
    b.RR(0x4444).SDES({{0x4444, {{1, "frank@b"}}}});
    ASSERT_EQ(Deliver(b, bob), 0);
    int32_t erin = -1, frank = -1;
    ASSERT_EQ(RTPFindMember(context, RTP_SDES_CNAME, "erin@a", &erin), 0);
    ASSERT_EQ(RTPFindMember(context, RTP_SDES_CNAME, "frank@b", &frank), 0);
    EXPECT_NE(erin, frank);
    EXPECT_TRUE(collisions.empty()) << "neither is ours or a contributor";
    // Each address keeps reaching its own record.
    Compound a2;
    a2.RR(0x4444).SDES({{0x4444, {{1, "erin@a"}, {2, "Erin"}}}});
    ASSERT_EQ(Deliver(a2, alice), 0);
    Compound b2;
    b2.RR(0x4444).SDES({{0x4444, {{1, "frank@b"}, {2, "Frank"}}}});
    ASSERT_EQ(Deliver(b2, bob), 0);
    EXPECT_EQ(Sdes(erin, RTP_SDES_NAME), "Erin");
    EXPECT_EQ(Sdes(frank, RTP_SDES_NAME), "Frank");
    // A BYE for the shared SSRC cannot say who left: both stay.
    Compound bye;
    bye.BYE({0x4444}, "");
    ASSERT_EQ(Deliver(bye, alice), 0);
    EXPECT_EQ(Count(erin, RTP_EVENT_BYE) + Count(frank, RTP_EVENT_BYE), 0);
}

TEST_F(RtcpReceive, UnknownItemTypeIsSteppedOver) {
    Compound c;
    c.RR(0x5555).SDES({{0x5555, {{1, "gina@host"}, {20, "private"}, {2, "Gina"}}}});
    ASSERT_EQ(Deliver(c, alice), 0);
    int32_t m = Member(0x5555);
    EXPECT_EQ(Sdes(m, RTP_SDES_NAME), "Gina");
}

TEST_F(RtcpReceive, ContributorChunksConfirmAsContributors) {
    Compound c;
    c.SDES({{0x6000, {{1, "mixer@host"}}}, {0x6001, {{1, "talker@host"}}}});
    ASSERT_EQ(Deliver(c, alice), 0);
    int32_t talker = Member(0x6001);
    int32_t state = -1, sender = -1;
    ASSERT_EQ(RTPMemberInfoGetStatus(context, talker, &state, &sender), 0);
    EXPECT_EQ(state, RTP_MEMBER_CONFIRMED_CONTRIBUTOR);
}

TEST_F(RtcpReceive, AppCountsItsSender) {
    Compound c;
    c.APP(0x7777);
    ASSERT_EQ(Deliver(c, alice), RTP_BAD_PACKET_FORMAT) << "APP may not lead a compound";
    Compound d;
    d.RR(0x7777).APP(0x7777);
    ASSERT_EQ(Deliver(d, alice), 0);
    int32_t m = Member(0x7777);
    int32_t recent = -1;
    ASSERT_EQ(RTPMostRecentRTCPPerson(context, &recent), 0);
    EXPECT_EQ(recent, m);
    int32_t state = -1, sender = -1;
    RTPMemberInfoGetStatus(context, m, &state, &sender);
    EXPECT_EQ(state, RTP_MEMBER_CONFIRMED) << "RR and APP: heard twice";
}

TEST_F(RtcpReceive, UnknownPacketTypeIsRefusedAndTheRestTaken) {
    Compound c;
    c.RR(0x8888).Raw(0, 205, {0, 0, 0, 1}).SDES({{0x8888, {{1, "hank@host"}}}});
    ASSERT_EQ(Deliver(c, alice), 0);
    EXPECT_NE(std::string(RTPLastErrorText()).find("invalid RTCP payload type"), std::string::npos);
    EXPECT_EQ(Sdes(Member(0x8888), RTP_SDES_CNAME), "hank@host");
}

TEST_F(RtcpReceive, TruncatedPacketsAreReadOnlyWithinTheirLength) {
    struct Case {
        const char *what;
        int count, type;
        std::vector<uint8_t> body;
    } cases[] = {
        {"RR claims blocks it does not carry", 3, 201, {0, 0, 0x99, 1}},
        {"SR without sender information", 0, 200, {0, 0, 0x99, 2}},
        {"SDES item longer than the packet", 1, 202, {0, 0, 0x99, 3, 1, 200, 'x', 0}},
        {"SDES claims chunks it does not carry", 5, 202, {0, 0, 0x99, 4, 1, 1, 'y', 0}},
        {"BYE claims SSRCs it does not carry", 9, 203, {0, 0, 0x99, 5}},
        {"BYE reason longer than the packet", 1, 203, {0, 0, 0x99, 6, 200, 'r', 'r', 'r'}},
    };
    for (const Case &k : cases) {
        Compound c;
        c.RR(0x9900).Raw(k.count, k.type, k.body);
        EXPECT_EQ(Deliver(c, alice), 0) << k.what;
    }
    EXPECT_EQ(Sdes(Member(0x9903), RTP_SDES_CNAME), "") << "the cut item is not taken";
    EXPECT_EQ(Sdes(Member(0x9904), RTP_SDES_CNAME), "y");
}

// Time-outs, with T = 5 s (the minimum): expiry after 25 s, deletion after 75 s.
TEST_F(RtcpReceive, SilentMembersExpireAndAreDeleted) {
    Compound confirmed;
    confirmed.RR(0xC0C0).SDES({{0xC0C0, {{1, "ivan@host"}}}});
    ASSERT_EQ(Deliver(confirmed, alice), 0);
    Compound once;
    once.RR(0xD0D0);
    ASSERT_EQ(Deliver(once, bob), 0);
    const int32_t ivan = Member(0xC0C0), judy = Member(0xD0D0);
    // A third member keeps talking; each of its compounds runs the pass.
    auto tick = [&](double seconds) {
        test::Advance(seconds);
        Compound k;
        k.RR(0xEEEE).SDES({{0xEEEE, {{1, "keeper@host"}}}});
        ASSERT_EQ(Deliver(k, test::Address("127.0.0.9", 6000)), 0);
    };
    tick(24.0);
    EXPECT_EQ(Count(ivan, RTP_EVENT_EXPIRED), 0);
    EXPECT_EQ(Count(judy, RTP_EVENT_NEVER_CONFIRMED), 0);
    tick(1.5);
    EXPECT_EQ(Count(ivan, RTP_EVENT_EXPIRED), 1);
    EXPECT_EQ(Count(judy, RTP_EVENT_NEVER_CONFIRMED), 1);
    EXPECT_EQ(Member(0xD0D0), -1) << "never confirmed: deleted";
    int32_t state = -1, sender = -1;
    ASSERT_EQ(RTPMemberInfoGetStatus(context, ivan, &state, &sender), 0);
    EXPECT_EQ(state, RTP_MEMBER_EXPIRED);
    tick(30.0);
    EXPECT_EQ(Count(ivan, RTP_EVENT_EXPIRED), 1) << "expires once";
    tick(20.0);
    EXPECT_EQ(Count(ivan, RTP_EVENT_DELETED), 1);
    EXPECT_EQ(Member(0xC0C0), -1);
    EXPECT_EQ(RTPMemberInfoGetStatus(context, 0, &state, &sender), 0) << "we never time out";
    EXPECT_GE(Member(0xEEEE), 1);
}

TEST_F(RtcpReceive, ExpiredMemberHeardAgainIsConfirmedAgain) {
    Compound hello;
    hello.RR(0xC1C1).SDES({{0xC1C1, {{1, "kim@host"}}}});
    ASSERT_EQ(Deliver(hello, alice), 0);
    const int32_t kim = Member(0xC1C1);
    test::Advance(26.0);
    Compound other;
    other.RR(0xEEEE);
    ASSERT_EQ(Deliver(other, bob), 0);
    ASSERT_EQ(Count(kim, RTP_EVENT_EXPIRED), 1);
    Compound again;
    again.RR(0xC1C1);
    ASSERT_EQ(Deliver(again, alice), 0);
    EXPECT_EQ(Count(kim, RTP_EVENT_RECONFIRMED), 1);
}

TEST_F(RtcpReceive, QuietSendersFallBackAndLeaveTheActivityList) {
    sockaddr_in from = alice;
    for (uint16_t seq = 1; seq <= 2; seq++) {
        auto p = test::RtpPacket(0xF00D, seq, seq * 160);
        ASSERT_EQ(RTPPacketReceived(context, reinterpret_cast<char *>(p.data()),
                                    static_cast<int32_t>(p.size()), &from, sizeof from, 0, 0),
                  0);
    }
    const int32_t m = Member(0xF00D);
    ASSERT_EQ(Count(m, RTP_EVENT_NEW_SENDER), 1);
    auto tick = [&](double seconds) {
        test::Advance(seconds);
        Compound k;
        k.RR(0xEEEE).SDES({{0xEEEE, {{1, "keeper@host"}}}});
        ASSERT_EQ(Deliver(k, bob), 0);
    };
    tick(4.0);
    EXPECT_EQ(Count(m, RTP_EVENT_SENDER_TO_ACTIVE), 0);
    tick(1.5);
    EXPECT_EQ(Count(m, RTP_EVENT_SENDER_TO_ACTIVE), 1) << "after T";
    tick(20.0);
    EXPECT_EQ(Count(m, RTP_EVENT_INACTIVE), 1) << "after 5 T";
    rtp_report_t report{};
    EXPECT_EQ(RTPSenderInfoGetFracLost(context, m, &report), RTP_NO_SUCH_SENDER)
        << "its statistics went with it";
}

}  // namespace
}  // namespace sipline
