// Report timing, the compounds on the wire and the BYE at close, with the engine's clock in
// the test's hand and a peer socket pair on loopback catching what the context sends.
#include "rtp/tests/rtcp_test_support.h"

namespace sipline {
namespace {

using test::Packet;

class RtcpTiming : public ::testing::Test {
  protected:
    void SetUp() override {
        rtp_set_clock(test::FakeClock);
        ASSERT_GT(peer.port(), 0);
        ASSERT_EQ(RTPCreate(&context), 0);
        ASSERT_EQ(RTPSessionSetReceiveAddr(context, "127.0.0.1", 0), 0);
        ASSERT_EQ(RTPSessionAddSendAddr(context, "127.0.0.1", peer.port(), 0), 0);
        ASSERT_EQ(RTPMemberInfoSetSDES(context, 0, RTP_SDES_CNAME, "me@127.0.0.1"), 0);
    }
    void TearDown() override {
        RTPDestroy(context);
        test::DrainScheduled();
        rtp_set_clock(nullptr);
    }
    void Open() {
        ASSERT_EQ(RTPOpenConnection(context), 0);
        opened = test::fake_now;
    }
    // Moves the clock to the next due event and runs it.
    void RunNext() {
        auto due = test::NextDue();
        ASSERT_TRUE(due) << "no event pending";
        test::fake_now = {static_cast<int32_t>(*due / 1000000),
                          static_cast<int32_t>(*due % 1000000)};
        test::RunDue();
    }
    // Runs events until a compound arrives: a report falling due may be put off again by
    // timer reconsideration (a new random factor against the membership of now).
    std::optional<std::vector<uint8_t>> RunUntilSent() {
        for (int round = 0; round < 20; round++) {
            RunNext();
            if (auto d = peer.Receive(round == 0 ? 50 : 20)) {
                return d;
            }
        }
        return std::nullopt;
    }
    std::vector<Packet> NextCompound() {
        auto d = RunUntilSent();
        if (!d) {
            ADD_FAILURE() << "no compound arrived";
            return {};
        }
        return test::Split(*d);
    }
    std::vector<Packet> Arrived() {
        auto d = peer.Receive();
        if (!d) {
            ADD_FAILURE() << "no compound arrived";
            return {};
        }
        return test::Split(*d);
    }
    // A remote sender heard twice (confirmed, sender status 2).
    void HearSender(uint32_t ssrc) {
        sockaddr_in from = test::Address("127.0.0.2", 7000);
        for (uint16_t seq = 1; seq <= 2; seq++) {
            auto p = test::RtpPacket(ssrc, seq, seq * 160);
            ASSERT_EQ(RTPPacketReceived(context, reinterpret_cast<char *>(p.data()),
                                        static_cast<int32_t>(p.size()), &from, sizeof from, 0, 0),
                      0);
        }
    }
    void SendRtp(int frames) {
        uint8_t frame[33] = {};
        for (int i = 0; i < frames; i++) {
            ASSERT_EQ(RTPSend(context, 160, 0, 3, frame, sizeof frame), 0);
        }
    }

    test::PeerSockets peer;
    int32_t context = -1;
    timeval opened{};
};

TEST_F(RtcpTiming, FirstReportFollowsOpeningByOneRandomisedInterval) {
    Open();
    auto due = test::NextDue();
    ASSERT_TRUE(due);
    // Two members at most: 5 s minimum interval, times a factor of 0.5 to 1.5.
    double after = (*due - test::Micros(opened)) / 1e6;
    EXPECT_GE(after, 2.5);
    EXPECT_LE(after, 7.5);
    EXPECT_FALSE(peer.Receive(50)) << "nothing is sent before the first interval";
}

TEST_F(RtcpTiming, ReceiverOnlyReportIsAnEmptyRRAndSdes) {
    Open();
    auto packets = NextCompound();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].type, 201);
    EXPECT_EQ(packets[0].count, 0);
    EXPECT_EQ(packets[0].length, 1);
    EXPECT_EQ(packets[1].type, 202);
    auto items = test::SdesItems(packets[1]);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "me@127.0.0.1");
    EXPECT_EQ(items[0].ssrc, packets[0].Word(4)) << "SDES and RR name one SSRC";
    EXPECT_NE(items[0].ssrc, 0u) << "an SSRC was chosen for the first report";

    // The next report is scheduled again an interval of at least 5 s x 0.5 later.
    auto next = test::NextDue();
    ASSERT_TRUE(next);
    double after = (*next - test::Micros(test::fake_now)) / 1e6;
    EXPECT_GE(after, 2.5);
    EXPECT_LE(after, 7.5);
}

TEST_F(RtcpTiming, SenderHearingOneSenderSendsSRWithOneBlockThenSdes) {
    Open();
    SendRtp(3);
    HearSender(0xCAFE0001);
    auto packets = NextCompound();
    ASSERT_EQ(packets.size(), 2u);
    const Packet &sr = packets[0];
    EXPECT_EQ(sr.type, 200);
    EXPECT_EQ(sr.count, 1);
    EXPECT_EQ(sr.length, 12);
    EXPECT_EQ(sr.Word(20), 3u) << "packet count";
    EXPECT_EQ(sr.Word(24), 99u) << "octet count";
    EXPECT_EQ(sr.Word(8), static_cast<uint32_t>(test::fake_now.tv_sec) + 2208988800u)
        << "NTP seconds of now";
    EXPECT_EQ(sr.Word(28), 0xCAFE0001u) << "the block is about the sender heard";
    EXPECT_EQ(sr.Word(36), 2u) << "extended highest sequence";
    EXPECT_EQ(sr.bytes[32], 0) << "fraction lost";
    EXPECT_EQ(packets[1].type, 202);

    // The copy of the block sent is in the sender's report table under our id.
    int32_t member = -1;
    ASSERT_EQ(RTPFindMember(context, RTP_SDES_CNAME, "x", &member), RTP_NO_SUCH_PERSON);
    rtp_member_iterator_t it;
    ASSERT_EQ(RTPFirstMember(context, &it, &member), 0);
    bool found = false;
    for (rtperror e = 0; e == 0; e = RTPNextMember(context, &it, &member)) {
        uint32_t ssrc = 0;
        RTPMemberInfoGetSSRC(context, member, &ssrc);
        if (ssrc != 0xCAFE0001) {
            continue;
        }
        rtp_report_iterator_t reports;
        rtp_report_t report{};
        ASSERT_EQ(RTPSenderInfoGetFirstReceiverReport(context, member, &reports, &report), 0);
        EXPECT_EQ(report.reporter, 0);
        EXPECT_EQ(report.highest_sequence, 2u);
        found = true;
    }
    EXPECT_TRUE(found);
}

TEST_F(RtcpTiming, SdesChunkOfSixteenAndSeventeenCharacters) {
    ASSERT_EQ(RTPMemberInfoSetSDES(context, 0, RTP_SDES_CNAME, "0123456789abcdef"), 0);
    ASSERT_EQ(RTPMemberInfoSetSDES(context, 0, RTP_SDES_NAME, "0123456789abcdefg"), 0);
    Open();
    auto packets = NextCompound();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].bytes.size(), 48u);
    EXPECT_EQ(packets[1].length, 11);
}

TEST_F(RtcpTiming, OverlongSdesItemIsSentAs255Characters) {
    std::string note(300, 'n');
    ASSERT_EQ(RTPMemberInfoSetSDES(context, 0, RTP_SDES_NOTE, note.c_str()), 0);
    Open();
    auto packets = NextCompound();
    ASSERT_EQ(packets.size(), 2u);
    auto items = test::SdesItems(packets[1]);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].type, RTP_SDES_NOTE);
    EXPECT_EQ(items[1].text, std::string(255, 'n'));
}

TEST_F(RtcpTiming, ContributorsGetSdesChunksAndByes) {
    ASSERT_EQ(RTPSessionAddToContributorList(context, 0xC0470001), 0);
    ASSERT_EQ(RTPSessionAddToContributorList(context, 0xC0470002), 0);
    int32_t talker = -1;
    ASSERT_EQ(RTPSessionGetUniqueIDForCSRC(context, 0xC0470001, &talker), 0);
    ASSERT_EQ(RTPMemberInfoSetSDES(context, talker, RTP_SDES_CNAME, "talker@mixer"), 0);
    Open();
    SendRtp(1);
    auto packets = NextCompound();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].count, 2) << "own chunk and the contributor with items";
    auto items = test::SdesItems(packets[1]);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].ssrc, 0xC0470001u);
    EXPECT_EQ(items[1].text, "talker@mixer");

    // Removing a contributor says BYE for it alone, at once.
    ASSERT_EQ(RTPSessionRemoveFromContributorList(context, 0xC0470001, "left the mix"), 0);
    packets = Arrived();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].type, 203);
    EXPECT_EQ(packets[1].count, 1);
    EXPECT_EQ(packets[1].Word(4), 0xC0470001u);
    EXPECT_EQ(test::ByeReason(packets[1]), "left the mix");

    // Closing says BYE for us and the remaining contributor.
    ASSERT_EQ(RTPCloseConnection(context, "hangup"), 0);
    packets = Arrived();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1].count, 2);
    EXPECT_EQ(packets[1].Word(8), 0xC0470002u);
}

TEST_F(RtcpTiming, EventMeetingABusySessionIsPutOffNotLost) {
    Open();
    test::ScheduledEvent e = test::scheduled.begin()->second;
    test::scheduled.erase(test::scheduled.begin());
    rtperror error = 0;
    rtp_context_t *ctx = RTPContextFind(context, "test", &error);
    ASSERT_NE(ctx, nullptr);
    ctx->session->busy = 1;  // as if a media thread were inside RTPReceive
    EXPECT_EQ(RTPExecute(context, e.event), RTP_CANT_CALL_FUNCTION);
    ctx->session->busy = 0;
    ASSERT_EQ(test::scheduled.size(), 1u);
    EXPECT_EQ(test::scheduled.begin()->first, test::Micros(test::fake_now) + 100000);
    EXPECT_EQ(NextCompound().size(), 2u) << "the chain of reports goes on";
}

TEST_F(RtcpTiming, CloseWithoutAnythingSentSaysNoBye) {
    Open();
    ASSERT_EQ(RTPCloseConnection(context, "hangup"), 0);
    EXPECT_FALSE(peer.Receive(100));
}

TEST_F(RtcpTiming, CloseAfterFirstReportSendsReportAndByeWithReason) {
    Open();
    ASSERT_EQ(NextCompound().size(), 2u);
    ASSERT_EQ(RTPCloseConnection(context, "hangup"), 0);
    auto packets = Arrived();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].type, 201);
    EXPECT_EQ(packets[1].type, 203);
    EXPECT_EQ(packets[1].count, 1);
    EXPECT_EQ(test::ByeReason(packets[1]), "hangup");
    EXPECT_EQ(packets[1].Word(4), packets[0].Word(4));
}

TEST_F(RtcpTiming, CloseAfterRtpSendsByeEvenBeforeTheFirstReport) {
    Open();
    SendRtp(1);
    std::string reason(300, 'r');
    ASSERT_EQ(RTPCloseConnection(context, reason.c_str()), 0);
    auto packets = Arrived();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].type, 200);
    EXPECT_EQ(test::ByeReason(packets[1]), std::string(255, 'r'));
}

TEST_F(RtcpTiming, EarlyReportIsReconsideredAndRescheduledWithoutSending) {
    Open();
    auto first = test::scheduled.begin();
    ASSERT_NE(first, test::scheduled.end());
    test::ScheduledEvent e = first->second;
    test::scheduled.erase(first);
    // 1 s after opening is before any possible time (at least 2.5 s).
    test::Advance(1.0);
    EXPECT_EQ(RTPExecute(context, e.event), 0);
    EXPECT_FALSE(peer.Receive(50));
    ASSERT_EQ(test::scheduled.size(), 1u) << "the report was put off, not dropped";
    double after = (test::scheduled.begin()->first - test::Micros(opened)) / 1e6;
    EXPECT_GE(after, 2.5);
    EXPECT_EQ(NextCompound().size(), 2u);
}

TEST_F(RtcpTiming, ReconsiderationModesSendAtOnceWhileMembershipHoldsStill) {
    struct Case {
        int32_t mode;
        bool sends_early;
    } cases[] = {{0, false}, {1, true}, {2, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        ASSERT_EQ(RTPSessionSetReconsideration(context, c.mode), 0);
        Open();
        ASSERT_EQ(NextCompound().size(), 2u);
        // The next report, run 1 s after this one: far too early by the timer.
        ASSERT_EQ(test::scheduled.size(), 1u);
        test::ScheduledEvent e = test::scheduled.begin()->second;
        test::scheduled.erase(test::scheduled.begin());
        test::Advance(1.0);
        EXPECT_EQ(RTPExecute(context, e.event), 0);
        EXPECT_EQ(peer.Receive(50).has_value(), c.sends_early);
        ASSERT_EQ(RTPCloseConnection(context, nullptr), 0);
        while (peer.Receive(20)) {
        }
        for (auto &[due, pending] : test::scheduled) {
            RTPDiscardEvent(pending.event);
        }
        test::scheduled.clear();
    }
}

TEST_F(RtcpTiming, ReportsKeepComingAtIntervals) {
    Open();
    for (int i = 0; i < 5; i++) {
        timeval before = test::fake_now;
        EXPECT_EQ(NextCompound().size(), 2u);
        // Each report follows the last by the 5 s interval times a factor of 0.5 to 1.5.
        double gap = (test::Micros(test::fake_now) - test::Micros(before)) / 1e6;
        EXPECT_GE(gap, 2.5);
        EXPECT_LE(gap, 7.5);
    }
}

TEST_F(RtcpTiming, ExecuteRefusesAnotherContextsEventAndFreesIt) {
    Open();
    int32_t other = -1;
    ASSERT_EQ(RTPCreate(&other), 0);
    test::ScheduledEvent e = test::scheduled.begin()->second;
    test::scheduled.erase(test::scheduled.begin());
    EXPECT_EQ(RTPExecute(other, e.event), RTP_UNKNOWN_CONTEXT);
    EXPECT_NE(std::string(RTPLastErrorText()).find("in arg != context"), std::string::npos);
    ASSERT_EQ(RTPDestroy(other), 0);
}

TEST_F(RtcpTiming, ReportDueAfterCloseIsBuiltAndItsSendFailureReported) {
    static int failures = 0;
    failures = 0;
    ASSERT_EQ(RTPSessionSetSendErrorCallback(
                  context, [](int32_t, const char *, int32_t, int32_t) { failures++; }),
              0);
    Open();
    ASSERT_EQ(RTPCloseConnection(context, nullptr), 0);
    for (int round = 0; round < 20 && failures == 0; round++) {
        RunNext();
    }
    EXPECT_EQ(failures, 1);
    EXPECT_TRUE(test::NextDue()) << "the chain of reports goes on until the context is destroyed";
}

TEST_F(RtcpTiming, ReopeningRunsOneChainOfReports) {
    Open();
    ASSERT_EQ(NextCompound().size(), 2u);
    ASSERT_EQ(RTPCloseConnection(context, "bye"), 0);
    ASSERT_TRUE(peer.Receive()) << "the BYE";
    Open();
    ASSERT_EQ(test::scheduled.size(), 2u) << "the old chain's next report and the new first one";
    int compounds = 0;
    const int64_t end = test::Micros(test::fake_now) + 60 * 1000000;
    while (test::NextDue() && *test::NextDue() < end) {
        RunNext();
        while (peer.Receive(compounds == 0 ? 50 : 5)) {
            compounds++;
        }
        EXPECT_LE(test::scheduled.size(), 2u);
    }
    EXPECT_EQ(test::scheduled.size(), 1u) << "one chain of reports";
    // 60 s at 2.5 to 7.5 s per report.
    EXPECT_GE(compounds, 7);
    EXPECT_LE(compounds, 24);
}

TEST_F(RtcpTiming, DiscardedEventsAreFreedWithoutRunning) {
    Open();
    SendRtp(1);
    test::ScheduledEvent e = test::scheduled.begin()->second;
    test::scheduled.erase(test::scheduled.begin());
    RTPDiscardEvent(e.event);
    RTPDiscardEvent(nullptr);
    EXPECT_FALSE(peer.Receive(50));
}

TEST_F(RtcpTiming, EventsOfADestroyedContextFailAndAreFreed) {
    Open();
    ASSERT_EQ(RTPDestroy(context), 0);
    ASSERT_FALSE(test::scheduled.empty());
    test::ScheduledEvent e = test::scheduled.begin()->second;
    test::scheduled.erase(test::scheduled.begin());
    EXPECT_EQ(RTPExecute(e.context, e.event), RTP_UNKNOWN_CONTEXT);
}

TEST_F(RtcpTiming, EventOfADestroyedContextDoesNotRunOnTheContextThatReusesItsNumber) {
    Open();
    SendRtp(1);
    ASSERT_EQ(test::scheduled.size(), 1u);
    test::ScheduledEvent stale = test::scheduled.begin()->second;
    test::scheduled.erase(test::scheduled.begin());
    ASSERT_EQ(RTPDestroy(context), 0);
    ASSERT_TRUE(peer.Receive()) << "the BYE at destruction";
    test::DrainScheduled();

    // The lowest free slot is taken again: the new context gets the old number. It is set up
    // to send to the same peer but not opened.
    int32_t reused = -1;
    ASSERT_EQ(RTPCreate(&reused), 0);
    ASSERT_EQ(reused, stale.context);
    context = reused;
    ASSERT_EQ(RTPSessionAddSendAddr(context, "127.0.0.1", peer.port(), 0), 0);

    test::fake_now = rtp_time_add(test::fake_now, 10.0);
    EXPECT_EQ(RTPExecute(stale.context, stale.event), RTP_UNKNOWN_CONTEXT);
    EXPECT_NE(std::string(RTPLastErrorText()).find("destroyed context"), std::string::npos)
        << RTPLastErrorText();
    EXPECT_TRUE(test::scheduled.empty()) << "no chain of reports started on the new context";
    EXPECT_FALSE(peer.Receive(50)) << "nothing sent for the new context";
    uint32_t ssrc = 1;
    ASSERT_EQ(RTPMemberInfoGetSSRC(context, 0, &ssrc), 0);
    EXPECT_EQ(ssrc, 0u) << "the new context chose no SSRC";
}

TEST_F(RtcpTiming, CompoundTooLargeForTheBufferIsCutNotOverrun) {
    Open();
    SendRtp(1);
    // 500 senders want 500 blocks (12,000 bytes); the buffer holds 10,000.
    for (uint32_t i = 0; i < 500; i++) {
        HearSender(0x10000000 + i);
    }
    auto d = RunUntilSent();
    ASSERT_TRUE(d);
    EXPECT_LE(d->size(), 10000u);
    auto packets = test::Split(*d);
    ASSERT_GE(packets.size(), 2u);
    int blocks = 0;
    for (const Packet &p : packets) {
        if (p.type == 200) {
            blocks += p.count;
            EXPECT_LE(p.count, 31);
        }
    }
    EXPECT_GT(blocks, 350);
    EXPECT_LT(blocks, 500);
    EXPECT_EQ(packets.back().type, 202) << "the own SDES chunk always has its room";
}

}  // namespace
}  // namespace sipline
