// RFC 3611 VoIP metrics: the block's wire form both ways, a reader that survives any packet,
// the XR packet in the reports and the farewell of a context that was given metrics, and the
// block a peer sent kept on its member.
#include "rtp/rtcp_wire.h"
#include "rtp/tests/rtcp_test_support.h"

namespace sipline {
namespace {

using test::Packet;

rtp_voip_metrics_t Sample() {
    rtp_voip_metrics_t m;
    m.ssrc = 0xA1B2C3D4;
    m.loss_rate = 8;
    m.discard_rate = 3;
    m.burst_density = 40;
    m.gap_density = 2;
    m.burst_duration = 120;
    m.gap_duration = 5000;
    m.round_trip_delay = 45;
    m.end_system_delay = 90;
    m.rx_config = RTCP_XR_PLC_STANDARD | RTCP_XR_JB_ADAPTIVE;
    m.jb_nominal = 60;
    m.jb_maximum = 140;
    m.jb_abs_max = 200;
    return m;
}

bool Same(const rtp_voip_metrics_t &a, const rtp_voip_metrics_t &b) {
    return a.ssrc == b.ssrc && a.loss_rate == b.loss_rate && a.discard_rate == b.discard_rate &&
           a.burst_density == b.burst_density && a.gap_density == b.gap_density &&
           a.burst_duration == b.burst_duration && a.gap_duration == b.gap_duration &&
           a.round_trip_delay == b.round_trip_delay && a.end_system_delay == b.end_system_delay &&
           a.signal_level == b.signal_level && a.noise_level == b.noise_level && a.rerl == b.rerl &&
           a.gmin == b.gmin && a.r_factor == b.r_factor && a.ext_r_factor == b.ext_r_factor &&
           a.mos_lq == b.mos_lq && a.mos_cq == b.mos_cq && a.rx_config == b.rx_config &&
           a.jb_nominal == b.jb_nominal && a.jb_maximum == b.jb_maximum &&
           a.jb_abs_max == b.jb_abs_max;
}

std::vector<uint8_t> Written(const rtp_voip_metrics_t &m, uint32_t reporter = 0x01020304) {
    std::vector<uint8_t> p(rtcp_xr_voip_size() + 8, 0xEE);
    EXPECT_EQ(rtcp_put_xr_voip(p.data(), reporter, m), rtcp_xr_voip_size());
    EXPECT_EQ(p[rtcp_xr_voip_size()], 0xEE) << "wrote past the packet";
    p.resize(rtcp_xr_voip_size());
    return p;
}

TEST(RtcpXrWire, VoipMetricsBlockHasTheLayoutOfRfc3611) {
    const std::vector<uint8_t> p = Written(Sample());
    ASSERT_EQ(p.size(), 44u);
    EXPECT_EQ(p[0], 0x80) << "version 2, no padding, reserved count";
    EXPECT_EQ(p[1], 207);
    EXPECT_EQ(rtcp_get_u16(&p[2]), 10) << "eleven words";
    EXPECT_EQ(rtcp_get_u32(&p[4]), 0x01020304u);
    EXPECT_EQ(p[8], 7) << "block type";
    EXPECT_EQ(rtcp_get_u16(&p[10]), 8) << "block length";
    EXPECT_EQ(rtcp_get_u32(&p[12]), 0xA1B2C3D4u);
    EXPECT_EQ(p[16], 8);
    EXPECT_EQ(p[17], 3);
    EXPECT_EQ(rtcp_get_u16(&p[22]), 5000) << "gap duration";
    EXPECT_EQ(p[28], 127) << "signal level unavailable";
    EXPECT_EQ(p[31], 16) << "Gmin";
    EXPECT_EQ(p[32], 127) << "R factor unavailable";
    EXPECT_EQ(p[35], 127) << "MOS-CQ unavailable";
    EXPECT_EQ(p[36], 0xF0) << "standard PLC, adaptive buffer";
    EXPECT_EQ(p[37], 0) << "reserved";
    EXPECT_EQ(rtcp_get_u16(&p[38]), 60);
    EXPECT_EQ(rtcp_get_u16(&p[40]), 140);
    EXPECT_EQ(rtcp_get_u16(&p[42]), 200);
}

TEST(RtcpXrWire, WrittenBlockReadsBackWhole) {
    uint32_t reporter = 0;
    rtp_voip_metrics_t back;
    const std::vector<uint8_t> p = Written(Sample());
    ASSERT_TRUE(rtcp_read_xr_voip(p.data(), p.size(), &reporter, &back));
    EXPECT_EQ(reporter, 0x01020304u);
    EXPECT_TRUE(Same(back, Sample()));
}

// A packet built from blocks: {type, length field, filled words}.
struct block {
    uint8_t type;
    uint16_t length;
    std::size_t words;
};
std::vector<uint8_t> Xr(const std::vector<block> &blocks) {
    std::vector<uint8_t> p = {0x80, 207, 0, 0, 9, 9, 9, 9};
    for (const block &b : blocks) {
        p.insert(p.end(),
                 {b.type, 0, static_cast<uint8_t>(b.length >> 8), static_cast<uint8_t>(b.length)});
        p.insert(p.end(), 4 * b.words, 0x11);
    }
    return p;
}

TEST(RtcpXrWire, ReaderTakesTheFirstWholeVoipBlockAndSurvivesTheRest) {
    const std::vector<uint8_t> voip = Written(Sample());
    std::vector<uint8_t> after_rle = Xr({{1, 2, 2}});  // a loss RLE block first
    after_rle.insert(after_rle.end(), voip.begin() + 8, voip.end());
    struct row {
        const char *what;
        std::vector<uint8_t> packet;
        bool found;
    };
    const std::vector<row> rows = {
        {"empty", {}, false},
        {"header only", {0x80, 207, 0, 0}, false},
        {"no block", Xr({}), false},
        {"not an XR",
         [&] {
             auto p = voip;
             p[1] = 200;
             return p;
         }(),
         false},
        {"after another block", after_rle, true},
        {"a VoIP block too short for its fields", Xr({{7, 4, 4}}), false},
        {"a block longer than the packet", Xr({{1, 200, 1}}), false},
        {"the largest stated length", Xr({{7, 0xFFFF, 2}}), false},
        {"empty blocks, then the end", Xr({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}), false},
        {"the VoIP block cut short", std::vector<uint8_t>(voip.begin(), voip.end() - 1), false},
        {"three bytes after the header",
         [] {
             auto p = Xr({});
             p.insert(p.end(), 3, 7);
             return p;
         }(),
         false},
    };
    for (const row &r : rows) {
        uint32_t reporter = 0;
        rtp_voip_metrics_t m;
        EXPECT_EQ(rtcp_read_xr_voip(r.packet.data(), r.packet.size(), &reporter, &m), r.found)
            << r.what;
        if (r.found) {
            EXPECT_TRUE(Same(m, Sample())) << r.what;
        }
    }
}

class RtcpXr : public ::testing::Test {
  protected:
    void SetUp() override {
        rtp_set_clock(test::FakeClock);
        ASSERT_GT(peer.port(), 0);
        ASSERT_EQ(RTPCreate(&context), 0);
        ASSERT_EQ(RTPSessionSetReceiveAddr(context, "127.0.0.1", 0), 0);
        ASSERT_EQ(RTPSessionAddSendAddr(context, "127.0.0.1", peer.port(), 0), 0);
        ASSERT_EQ(RTPMemberInfoSetSDES(context, 0, RTP_SDES_CNAME, "me@127.0.0.1"), 0);
        ASSERT_EQ(RTPOpenConnection(context), 0);
    }
    void TearDown() override {
        RTPDestroy(context);
        test::DrainScheduled();
        rtp_set_clock(nullptr);
    }
    std::vector<Packet> NextCompound() {
        for (int round = 0; round < 20; round++) {
            auto due = test::NextDue();
            if (!due) {
                break;
            }
            test::fake_now = {static_cast<int32_t>(*due / 1000000),
                              static_cast<int32_t>(*due % 1000000)};
            test::RunDue();
            if (auto d = peer.Receive(round == 0 ? 50 : 20)) {
                return test::Split(*d);
            }
        }
        ADD_FAILURE() << "no compound arrived";
        return {};
    }
    uint32_t OwnSsrc() {
        uint32_t ssrc = 0;
        RTPMemberInfoGetSSRC(context, 0, &ssrc);
        return ssrc;
    }

    test::PeerSockets peer;
    int32_t context = -1;
};

TEST_F(RtcpXr, ReportsCarryTheMetricsOnlyOnceSetAndUntilCleared) {
    EXPECT_EQ(NextCompound().size(), 2u) << "RR and SDES, no XR before metrics are set";
    const rtp_voip_metrics_t sample = Sample();
    ASSERT_EQ(RTPSetVoIPMetrics(context, &sample), RTP_OK);
    std::vector<Packet> packets = NextCompound();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].type, 201);
    EXPECT_EQ(packets[1].type, 202);
    ASSERT_EQ(packets[2].type, 207) << "the XR goes last";
    uint32_t reporter = 0;
    rtp_voip_metrics_t back;
    ASSERT_TRUE(
        rtcp_read_xr_voip(packets[2].bytes.data(), packets[2].bytes.size(), &reporter, &back));
    EXPECT_EQ(reporter, OwnSsrc());
    EXPECT_TRUE(Same(back, sample));

    ASSERT_EQ(RTPSetVoIPMetrics(context, nullptr), RTP_OK);
    EXPECT_EQ(NextCompound().size(), 2u) << "cleared";
    EXPECT_EQ(RTPSetVoIPMetrics(context + 100, &sample), RTP_UNKNOWN_CONTEXT);
}

TEST_F(RtcpXr, TheFarewellCarriesTheLastMetricsBeforeItsBye) {
    ASSERT_EQ(NextCompound().size(), 2u);
    const rtp_voip_metrics_t sample = Sample();
    ASSERT_EQ(RTPSetVoIPMetrics(context, &sample), RTP_OK);
    ASSERT_EQ(RTPCloseConnection(context, "hangup"), 0);
    auto d = peer.Receive();
    ASSERT_TRUE(d);
    std::vector<Packet> packets = test::Split(*d);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].type, 201);
    EXPECT_EQ(packets[1].type, 207);
    EXPECT_EQ(packets[2].type, 203) << "the BYE ends the compound";
    EXPECT_EQ(test::ByeReason(packets[2]), "hangup");
}

TEST_F(RtcpXr, APeersMetricsAreKeptOnItsMember) {
    const uint32_t peer_ssrc = 0x5EED0001;
    // RR (no blocks), SDES CNAME, then the peer's XR about our stream.
    std::vector<uint8_t> compound = {0x80, 201, 0,   1,   0x5E, 0xED, 0x00, 0x01,
                                     0x81, 202, 0,   3,   0x5E, 0xED, 0x00, 0x01,
                                     1,    4,   'p', 'e', 'e',  'r',  0,    0};
    const std::vector<uint8_t> xr = Written(Sample(), peer_ssrc);
    compound.insert(compound.end(), xr.begin(), xr.end());
    sockaddr_in from = test::Address("127.0.0.2", 7001);
    ASSERT_EQ(RTPPacketReceived(context, reinterpret_cast<char *>(compound.data()),
                                static_cast<int32_t>(compound.size()), &from, sizeof from, 1, 0),
              RTP_OK);
    int32_t member = -1;
    ASSERT_EQ(RTPFindMember(context, RTP_SDES_CNAME, "peer", &member), RTP_OK);
    bool found = false;
    rtp_voip_metrics_t got;
    ASSERT_EQ(RTPMemberInfoGetVoIPMetrics(context, member, &found, &got), RTP_OK);
    ASSERT_TRUE(found);
    EXPECT_TRUE(Same(got, Sample()));
    ASSERT_EQ(RTPMemberInfoGetVoIPMetrics(context, 0, &found, &got), RTP_OK);
    EXPECT_FALSE(found) << "we sent ourselves none";
    EXPECT_EQ(RTPMemberInfoGetVoIPMetrics(context, 999, &found, &got), RTP_NO_SUCH_PERSON);
}

}  // namespace
}  // namespace sipline
