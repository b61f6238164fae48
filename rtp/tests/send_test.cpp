#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "rtp/context_internal.h"
#include "rtp/rtp.h"
#include "rtp/tests/rtp_test_util.h"

namespace sipline {
namespace {

using rtp_test::get16;
using rtp_test::get32;
using rtp_test::udp_socket;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class Send : public rtp_test::context_test {
  protected:
    std::vector<char> header(int32_t increment = 160, int16_t pt = 3, char marker = 0,
                             char padding = 0) {
        std::vector<char> buffer(256);
        int32_t length = static_cast<int32_t>(buffer.size());
        EXPECT_EQ(
            RTPBuildRTPHeader(context_, increment, marker, pt, padding, 33, buffer.data(), &length),
            RTP_OK);
        buffer.resize(static_cast<size_t>(length));
        return buffer;
    }
};

TEST_F(Send, ConsecutiveHeadersCountSequenceAndTimestamp) {
    uint32_t base = ctx_->timestamp_base;
    uint16_t first_sequence = static_cast<uint16_t>(ctx_->next_sequence);
    std::vector<char> a = header();
    std::vector<char> b = header();
    ASSERT_EQ(a.size(), 12u);
    EXPECT_EQ(static_cast<uint8_t>(a[0]), 0x80) << "version 2, no flags, no CSRCs";
    EXPECT_EQ(a[1], 3);
    EXPECT_EQ(get16(&a[2]), first_sequence);
    EXPECT_EQ(get16(&b[2]), static_cast<uint16_t>(first_sequence + 1));
    EXPECT_EQ(get32(&a[4]), base + 160) << "the first packet already carries its increment";
    EXPECT_EQ(get32(&b[4]), base + 320);
    EXPECT_EQ(get32(&a[8]), ctx_->ssrc);
    EXPECT_NE(ctx_->ssrc, 0u) << "the first header chooses an SSRC";
    EXPECT_EQ(ctx_->start_ssrc, ctx_->ssrc);
    EXPECT_EQ(ctx_->packets_sent, 2u);
    EXPECT_EQ(ctx_->octets_sent, 66u);
}

TEST_F(Send, SequenceNumberWrapsAt65536) {
    ctx_->next_sequence = 65535;
    EXPECT_EQ(get16(&header()[2]), 65535);
    EXPECT_EQ(get16(&header()[2]), 0);
}

TEST_F(Send, HeaderFieldsAreMaskedAndPlaced) {
    struct row {
        int16_t pt;
        char marker;
        char padding;
        uint8_t byte0, byte1;
    } rows[] = {
        {3, 0, 0, 0x80, 3},    {200, 0, 0, 0x80, 72}, {0, 1, 0, 0x80, 0x80},
        {8, 3, 0, 0x80, 0x88}, {3, 0, 1, 0xA0, 3},
    };
    for (const auto &r : rows) {
        std::vector<char> h = header(160, r.pt, r.marker, r.padding);
        EXPECT_EQ(static_cast<uint8_t>(h[0]), r.byte0) << "pt " << r.pt;
        EXPECT_EQ(static_cast<uint8_t>(h[1]), r.byte1) << "pt " << r.pt;
    }
}

TEST_F(Send, TooSmallBufferFailsAndChangesNothing) {
    char buffer[12];
    int32_t length = 11;
    uint32_t sequence = ctx_->next_sequence;
    EXPECT_EQ(RTPBuildRTPHeader(context_, 160, 0, 3, 0, 33, buffer, &length),
              RTP_INSUFFICIENT_BUFFER);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("insufficient buffer provided for RTP header"));
    EXPECT_EQ(ctx_->next_sequence, sequence);
    EXPECT_EQ(ctx_->packets_sent, 0u);
    EXPECT_EQ(ctx_->timestamp_advance, 0u);
    length = 12;
    EXPECT_EQ(RTPBuildRTPHeader(context_, 160, 0, 3, 0, 33, buffer, &length), RTP_OK);
    EXPECT_EQ(length, 12);
}

TEST_F(Send, CsrcListAndExtensionGoIntoTheHeader) {
    for (uint32_t ssrc : {0xA1u, 0xA2u, 0xA3u}) {
        ASSERT_EQ(RTPSessionAddToContributorList(context_, ssrc), RTP_OK);
        ASSERT_EQ(RTPSessionAddToCSRCList(context_, ssrc), RTP_OK);
    }
    int32_t length = 0;
    ASSERT_EQ(RTPSessionGetRTPHeaderLength(context_, &length), RTP_OK);
    EXPECT_EQ(length, 24);
    std::vector<char> h = header();
    ASSERT_EQ(h.size(), 24u);
    EXPECT_EQ(static_cast<uint8_t>(h[0]) & 0x0F, 3);
    EXPECT_EQ(get32(&h[12]), 0xA1u);
    EXPECT_EQ(get32(&h[20]), 0xA3u);

    struct {
        rtp_hdr_ext_t first;
        uint32_t word;
    } extension{{0xBEDE, 1}, 0x01020304};
    ASSERT_EQ(RTPSessionSetExtension(context_, &extension.first), RTP_OK);
    ASSERT_EQ(RTPSessionGetRTPHeaderLength(context_, &length), RTP_OK);
    EXPECT_EQ(length, 32);
    h = header();
    ASSERT_EQ(h.size(), 32u);
    EXPECT_EQ(static_cast<uint8_t>(h[0]) & 0x10, 0x10);
    EXPECT_EQ(get16(&h[24]), 0xBEDE);
    EXPECT_EQ(get16(&h[26]), 1);
    EXPECT_EQ(std::memcmp(&h[28], &extension.word, 4), 0) << "extension words are copied as given";
}

TEST_F(Send, CsrcAndContributorListRules) {
    EXPECT_EQ(RTPSessionAddToCSRCList(context_, 5), RTP_NO_SUCH_CONTRIBUTOR);
    uint32_t list[15];
    int32_t count = 15;
    EXPECT_EQ(RTPSessionGetCSRCList(context_, list, &count), RTP_CSRC_LIST_NOT_SET);
    EXPECT_EQ(RTPSessionRemoveFromCSRCList(context_, 5), RTP_CSRC_LIST_NOT_SET);
    for (uint32_t ssrc = 100; ssrc < 116; ++ssrc) {
        ASSERT_EQ(RTPSessionAddToContributorList(context_, ssrc), RTP_OK);
    }
    EXPECT_EQ(RTPSessionAddToContributorList(context_, 100), RTP_SSRC_IN_USE);
    for (uint32_t ssrc = 100; ssrc < 115; ++ssrc) {
        ASSERT_EQ(RTPSessionAddToCSRCList(context_, ssrc), RTP_OK);
    }
    EXPECT_EQ(RTPSessionAddToCSRCList(context_, 115), RTP_CSRC_LIST_FULL);
    count = 2;
    EXPECT_EQ(RTPSessionGetCSRCList(context_, list, &count), RTP_INSUFFICIENT_BUFFER);
    EXPECT_EQ(count, 15) << "the needed length comes back";
    EXPECT_EQ(RTPSessionRemoveFromCSRCList(context_, 999), RTP_NO_SUCH_PERSON);
    for (uint32_t ssrc = 100; ssrc < 114; ++ssrc) {
        ASSERT_EQ(RTPSessionRemoveFromCSRCList(context_, ssrc), RTP_OK);
    }
    count = 15;
    ASSERT_EQ(RTPSessionGetCSRCList(context_, list, &count), RTP_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list[0], 114u);
    ASSERT_EQ(RTPSessionRemoveFromCSRCList(context_, 114), RTP_OK);
    EXPECT_EQ(RTPSessionGetCSRCList(context_, list, &count), RTP_CSRC_LIST_NOT_SET)
        << "an emptied list counts as not set";
}

TEST_F(Send, ContributorsAreMembersTheApplicationMayChange) {
    static std::vector<int32_t> events;
    events.clear();
    RTPSetMemberEventCallback(
        context_, [](int32_t, int32_t, int32_t event, const char *) { events.push_back(event); });
    ASSERT_EQ(RTPSessionAddToContributorList(context_, 0xC0FFEE), RTP_OK);
    int32_t id = -1;
    ASSERT_EQ(RTPSessionGetUniqueIDForCSRC(context_, 0xC0FFEE, &id), RTP_OK);
    EXPECT_EQ(RTPMemberInfoSetSDES(context_, id, RTP_SDES_CNAME, "mixed@host"), RTP_OK);
    int32_t state = -1, sender = -1;
    ASSERT_EQ(RTPMemberInfoGetStatus(context_, id, &state, &sender), RTP_OK);
    EXPECT_EQ(state, RTP_MEMBER_NEW_CONTRIBUTOR);
    EXPECT_EQ(RTPSessionGetUniqueIDForCSRC(context_, 0xBAD, &id), RTP_NO_SUCH_PERSON);
    EXPECT_EQ(RTPSessionRemoveFromContributorList(context_, 0xBAD, "gone"), RTP_NO_SUCH_PERSON);
    ASSERT_EQ(RTPSessionRemoveFromContributorList(context_, 0xC0FFEE, "gone"), RTP_OK);
    const char *text = nullptr;
    EXPECT_EQ(RTPMemberInfoGetSDES(context_, id, RTP_SDES_CNAME, &text), RTP_NO_SUCH_PERSON);
    EXPECT_THAT(events, ElementsAre(RTP_EVENT_NEW_MEMBER, RTP_EVENT_DELETED));
}

class SendToPeers : public Send {
  protected:
    void add(const udp_socket &peer) {
        ASSERT_EQ(RTPSessionAddSendAddr(context_, "127.0.0.1", peer.port(), 0), RTP_OK);
    }
};

TEST_F(SendToPeers, EveryDestinationGetsTheGatheredDatagram) {
    udp_socket one(rtp_test::free_port_pair());
    udp_socket two(rtp_test::free_port_pair());
    add(one);
    add(two);
    const char a[] = "abc", b[] = "defg";
    rtp_piece_t pieces[] = {{a, 3}, {b, 4}, {nullptr, 0}};
    ASSERT_EQ(RTPSendVector(context_, 160, 1, 3, pieces, 3), RTP_OK);
    for (const udp_socket *peer : {&one, &two}) {
        std::vector<char> got = peer->receive();
        ASSERT_EQ(got.size(), 19u);
        EXPECT_EQ(std::string(got.begin() + 12, got.end()), "abcdefg");
        EXPECT_EQ(static_cast<uint8_t>(got[1]), 0x83);
    }
}

TEST_F(SendToPeers, RemovedDestinationGetsNothingAndLeavesTheList) {
    udp_socket kept(rtp_test::free_port_pair());
    udp_socket removed(rtp_test::free_port_pair());
    add(kept);
    add(removed);
    ASSERT_EQ(RTPSessionRemoveSendAddr(context_, "127.0.0.1", removed.port(), 0), RTP_OK);
    EXPECT_EQ(ctx_->session->send_addresses.size(), 2u);
    const char payload[33] = {};
    ASSERT_EQ(RTPSend(context_, 160, 0, 3, payload, 33), RTP_OK);
    EXPECT_EQ(kept.receive().size(), 45u);
    EXPECT_TRUE(removed.receive(200).empty());
    EXPECT_EQ(ctx_->session->send_addresses.size(), 1u);
}

struct send_failure {
    int32_t context;
    std::string address;
    int32_t port;
    int32_t ttl;
    rtperror nested;
};
std::vector<send_failure> failures;

TEST_F(SendToPeers, FailingDestinationDoesNotStopTheOthers) {
    failures.clear();
    udp_socket good(rtp_test::free_port_pair());
    uint16_t dead = rtp_test::free_port_pair();  // nothing listens there
    add(good);
    ASSERT_EQ(RTPSessionAddSendAddr(context_, "127.0.0.1", dead, 0), RTP_OK);
    RTPSessionSetSendErrorCallback(
        context_, [](int32_t context, const char *address, int32_t port, int32_t ttl) {
            // A callback that calls back into the engine is refused, not deadlocked.
            const char byte = 0;
            rtperror nested = RTPSend(context, 0, 0, 3, &byte, 1);
            failures.push_back({context, address, port, ttl, nested});
        });
    const char payload[33] = {};
    rtperror result = RTP_OK;
    // The first datagram to a closed port brings the ICMP error that the next send reports.
    for (int i = 0; i < 3; ++i) {
        rtperror r = RTPSend(context_, 160, 0, 3, payload, 33);
        if (r != RTP_OK) {
            result = r;
        }
        EXPECT_EQ(good.receive().size(), 45u) << "send " << i;
    }
    EXPECT_EQ(result, RTP_SOCKET_WRITE_FAILURE);
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ(failures[0].context, context_);
    EXPECT_EQ(failures[0].address, "127.0.0.1");
    EXPECT_EQ(failures[0].port, dead);
    EXPECT_EQ(failures[0].ttl, 0);
    EXPECT_EQ(failures[0].nested, RTP_CANT_CALL_FUNCTION);
}

TEST_F(SendToPeers, APeerThatListensAgainGetsTheDatagramThatMetTheRefusal) {
    uint16_t port = rtp_test::free_port_pair();  // nothing listens there yet
    ASSERT_EQ(RTPSessionAddSendAddr(context_, "127.0.0.1", port, 0), RTP_OK);
    RTPSessionSetSendErrorCallback(context_, nullptr);
    const char payload[33] = {};
    ASSERT_EQ(RTPSend(context_, 160, 0, 3, payload, 33), RTP_OK);
    udp_socket back(port);
    // The ICMP port unreachable of the first datagram is reported, and the second is sent all
    // the same.
    EXPECT_EQ(RTPSend(context_, 160, 0, 3, payload, 33), RTP_SOCKET_WRITE_FAILURE);
    EXPECT_EQ(back.receive().size(), 45u);
    EXPECT_EQ(RTPSend(context_, 160, 0, 3, payload, 33), RTP_OK);
    EXPECT_EQ(back.receive().size(), 45u);
}

TEST_F(SendToPeers, GathersAsManyPiecesAsThePlatformAllowsAndRefusesMore) {
    udp_socket peer(rtp_test::free_port_pair());
    add(peer);
    std::vector<char> bytes(IOV_MAX, 'x');
    std::vector<rtp_piece_t> pieces;
    for (char &c : bytes) {
        pieces.push_back({&c, 1});
    }
    ASSERT_EQ(RTPSendVector(context_, 160, 0, 3, pieces.data(), IOV_MAX - 1), RTP_OK);
    EXPECT_EQ(peer.receive().size(), static_cast<size_t>(12 + IOV_MAX - 1));
    EXPECT_EQ(RTPSendVector(context_, 160, 0, 3, pieces.data(), IOV_MAX), RTP_BAD_VALUE);
    EXPECT_EQ(RTPSendVector(context_, 160, 0, 3, pieces.data(), -1), RTP_BAD_VALUE);
    // Nine pieces, which the original refused by ending the process, are a plain send.
    ASSERT_EQ(RTPSendVector(context_, 160, 0, 3, pieces.data(), 9), RTP_OK);
    EXPECT_EQ(peer.receive().size(), 21u);
}

TEST_F(Send, NoSendAddressIsRefused) {
    const char payload[1] = {};
    EXPECT_EQ(RTPSend(context_, 160, 0, 3, payload, 1), RTP_BAD_ADDR);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("no send addresses"));
}

}  // namespace
}  // namespace sipline
