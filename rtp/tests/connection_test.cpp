#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rtp/context_internal.h"
#include "rtp/rtp.h"
#include "rtp/tests/rtp_test_util.h"

namespace sipline {
namespace {

using rtp_test::free_port_pair;
using rtp_test::udp_socket;
using ::testing::HasSubstr;

class Connection : public rtp_test::context_test {
  protected:
    uint16_t peer_port(int fd) {
        sockaddr_in a{};
        socklen_t length = sizeof a;
        getpeername(fd, reinterpret_cast<sockaddr *>(&a), &length);
        return ntohs(a.sin_port);
    }
    uint16_t own_port(int fd) {
        sockaddr_in a{};
        socklen_t length = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
        return ntohs(a.sin_port);
    }
};

TEST_F(Connection, OddSendPortIsLoweredAndRtcpGoesToTheNextPort) {
    ASSERT_EQ(RTPSessionAddSendAddr(context_, "127.0.0.1", 5005, 0), RTP_OK);
    const rtp_address_t &a = ctx_->session->send_addresses.front();
    EXPECT_EQ(ntohs(a.port), 5004);
    EXPECT_EQ(peer_port(a.rtp_socket), 5004);
    EXPECT_EQ(peer_port(a.rtcp_socket), 5005);
    EXPECT_EQ(a.ttl, 0) << "a unicast address keeps no TTL";
}

TEST_F(Connection, SendAddressRefusals) {
    EXPECT_EQ(RTPSessionAddSendAddr(context_, "127.0.0.1", 0, 0), RTP_BAD_PORT);
    EXPECT_STREQ(RTPLastErrorText(),
                 "Call from RTPSessionAddSendAddr(): Port number zero not allowed\n");
    // Port 1 is lowered to 0 by the port rule.
    EXPECT_EQ(RTPSessionAddSendAddr(context_, "127.0.0.1", 1, 0), RTP_BAD_PORT);
    EXPECT_EQ(RTPSessionAddSendAddr(context_, "255.255.255.255", 5004, 0), RTP_BAD_ADDR);
    EXPECT_EQ(RTPSessionAddSendAddr(context_, "host.invalid", 5004, 0), RTP_BAD_ADDR);
    EXPECT_TRUE(ctx_->session->send_addresses.empty()) << "failures leave the list unchanged";
}

TEST_F(Connection, RemovingSendAddresses) {
    ASSERT_EQ(RTPSessionAddSendAddr(context_, "127.0.0.1", 5004, 0), RTP_OK);
    EXPECT_EQ(RTPSessionRemoveSendAddr(context_, "127.0.0.1", 6000, 0), RTP_BAD_ADDR);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("No such address"));
    EXPECT_EQ(RTPSessionRemoveSendAddr(context_, "127.0.0.1", 5005, 9), RTP_OK)
        << "odd port and a TTL do not matter for a unicast address";
    EXPECT_EQ(RTPSessionRemoveSendAddr(context_, "127.0.0.1", 5004, 0), RTP_BAD_ADDR)
        << "a second removal finds nothing";
}

TEST_F(Connection, ReceiveAddressAndSocketsFollowTheConnectionState) {
    const char *host = nullptr;
    uint16_t port = 0;
    EXPECT_EQ(RTPSessionGetReceiveAddr(context_, &host, &port), RTP_BAD_ADDR);
    EXPECT_EQ(RTPOpenConnection(context_), RTP_BAD_ADDR) << "no receive address yet";
    int socket = -1;
    EXPECT_EQ(RTPSessionGetRTPSocket(context_, &socket), RTP_SOCKET_NOT_OPEN);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("connection not yet opened."));

    uint16_t pair = free_port_pair();
    ASSERT_EQ(RTPSessionSetReceiveAddr(context_, "127.0.0.1", static_cast<uint16_t>(pair + 1)),
              RTP_OK);
    ASSERT_EQ(RTPSessionGetReceiveAddr(context_, &host, &port), RTP_OK);
    EXPECT_STREQ(host, "127.0.0.1");
    EXPECT_EQ(port, pair);
    ASSERT_EQ(RTPOpenConnection(context_), RTP_OK);
    int rtp = -1, rtcp = -1;
    ASSERT_EQ(RTPSessionGetRTPSocket(context_, &rtp), RTP_OK);
    ASSERT_EQ(RTPSessionGetRTCPSocket(context_, &rtcp), RTP_OK);
    EXPECT_EQ(own_port(rtp), pair);
    EXPECT_EQ(own_port(rtcp), pair + 1);

    EXPECT_EQ(RTPSessionSetReceiveAddr(context_, "127.0.0.1", 7000), RTP_FIXED_WHEN_OPEN);
    ASSERT_EQ(RTPSessionGetReceiveAddr(context_, &host, &port), RTP_OK);
    EXPECT_EQ(port, pair) << "a refused change leaves the address";

    EXPECT_EQ(RTPCloseConnection(context_, "bye"), RTP_OK);
    EXPECT_EQ(RTPSessionGetRTPSocket(context_, &socket), RTP_SOCKET_NOT_OPEN);
    EXPECT_EQ(RTPCloseConnection(context_, nullptr), RTP_OK) << "closing twice is harmless";
    EXPECT_EQ(RTPSessionSetReceiveAddr(context_, nullptr, 7000), RTP_OK);
}

TEST_F(Connection, DynamicPortIsAnEvenPortAbove49152WithRtcpAboveIt) {
    ASSERT_EQ(RTPSessionSetReceiveAddr(context_, nullptr, 0), RTP_OK);
    ASSERT_EQ(RTPOpenConnection(context_), RTP_OK);
    const char *host = nullptr;
    uint16_t port = 0;
    ASSERT_EQ(RTPSessionGetReceiveAddr(context_, &host, &port), RTP_OK);
    EXPECT_STREQ(host, "0.0.0.0");
    EXPECT_GE(port, 49152);
    EXPECT_EQ(port % 2, 0);
    int rtp = -1, rtcp = -1;
    ASSERT_EQ(RTPSessionGetRTPSocket(context_, &rtp), RTP_OK);
    ASSERT_EQ(RTPSessionGetRTCPSocket(context_, &rtcp), RTP_OK);
    EXPECT_EQ(own_port(rtp), port);
    EXPECT_EQ(own_port(rtcp), port + 1);
}

// The dynamic choice replayed: the generator is seeded, so the ports it will try are known.
std::vector<uint16_t> dynamic_ports(unsigned seed, int count) {
    std::srand(seed);
    std::vector<uint16_t> ports;
    for (int i = 0; i < count; ++i) {
        int pair = std::min(static_cast<int>(random_uniform() * 8192), 8191);
        ports.push_back(static_cast<uint16_t>(49152 + 2 * pair));
    }
    std::srand(seed);
    return ports;
}

TEST_F(Connection, DynamicPortInUseLeadsToANewChoiceUpToTwentyTimes) {
    ASSERT_EQ(RTPSessionSetReceiveAddr(context_, "127.0.0.1", 0), RTP_OK);
    std::vector<uint16_t> ports = dynamic_ports(4242, 20);
    // The first 19 choices are taken (one by its RTCP port): the last choice still opens.
    std::vector<std::unique_ptr<udp_socket>> holders;
    for (int i = 0; i < 19; ++i) {
        holders.push_back(
            std::make_unique<udp_socket>(static_cast<uint16_t>(ports[i] + (i == 5 ? 1 : 0))));
    }
    ASSERT_EQ(RTPOpenConnection(context_), RTP_OK) << RTPLastErrorText();
    const char *host = nullptr;
    uint16_t port = 0;
    ASSERT_EQ(RTPSessionGetReceiveAddr(context_, &host, &port), RTP_OK);
    EXPECT_EQ(port, ports[19]);
    ASSERT_EQ(RTPCloseConnection(context_, nullptr), RTP_OK);

    // All twenty taken: the connection stays closed.
    ASSERT_EQ(RTPSessionSetReceiveAddr(context_, "127.0.0.1", 0), RTP_OK);
    ports = dynamic_ports(4343, 20);
    holders.clear();
    for (uint16_t taken : ports) {
        holders.push_back(std::make_unique<udp_socket>(taken));
    }
    EXPECT_EQ(RTPOpenConnection(context_), RTP_CANT_BIND_SOCKET);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("couldn't bind dynamic address"));
    EXPECT_EQ(ctx_->session->open, 0);
}

TEST_F(Connection, ReopenedConnectionSendsAgain) {
    udp_socket peer(free_port_pair());
    ASSERT_EQ(RTPSessionAddSendAddr(context_, "127.0.0.1", peer.port(), 0), RTP_OK);
    ASSERT_EQ(RTPSessionSetReceiveAddr(context_, "127.0.0.1", 0), RTP_OK);
    const char frame[33] = {};
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(RTPOpenConnection(context_), RTP_OK);
        ASSERT_EQ(RTPSend(context_, 160, 0, 3, frame, sizeof frame), RTP_OK) << "round " << round;
        EXPECT_EQ(peer.receive().size(), 45u) << "round " << round;
        ASSERT_EQ(RTPCloseConnection(context_, nullptr), RTP_OK);
    }
}

TEST_F(Connection, FixedPortInUseFailsInsteadOfSharingTheTraffic) {
    uint16_t pair = free_port_pair();
    udp_socket holder(pair);
    ASSERT_EQ(RTPSessionSetReceiveAddr(context_, "127.0.0.1", pair), RTP_OK);
    EXPECT_EQ(RTPOpenConnection(context_), RTP_CANT_BIND_SOCKET);
    EXPECT_THAT(RTPLastErrorText(), HasSubstr("couldn't bind RTP address"));
    EXPECT_EQ(ctx_->session->open, 0);
}

TEST_F(Connection, AddressThatIsNotLocalIsBoundAsAny) {
    uint16_t pair = free_port_pair();
    ASSERT_EQ(RTPSessionSetReceiveAddr(context_, "192.0.2.1", pair), RTP_OK);
    ASSERT_EQ(RTPOpenConnection(context_), RTP_OK);
    int rtp = -1;
    ASSERT_EQ(RTPSessionGetRTPSocket(context_, &rtp), RTP_OK);
    sockaddr_in a{};
    socklen_t length = sizeof a;
    getsockname(rtp, reinterpret_cast<sockaddr *>(&a), &length);
    EXPECT_EQ(a.sin_addr.s_addr, htonl(INADDR_ANY));
}

TEST_F(Connection, CloseClosesEverySocketAndDestroyClosesFirst) {
    uint16_t pair = free_port_pair();
    ASSERT_EQ(RTPSessionSetReceiveAddr(context_, "127.0.0.1", pair), RTP_OK);
    ASSERT_EQ(RTPSessionAddSendAddr(context_, "127.0.0.1", 5004, 0), RTP_OK);
    ASSERT_EQ(RTPOpenConnection(context_), RTP_OK);
    ASSERT_EQ(RTPCloseConnection(context_, nullptr), RTP_OK);
    EXPECT_EQ(ctx_->session->send_addresses.front().rtp_socket, -1);
    EXPECT_EQ(ctx_->session->receive_address->rtp_socket, -1);
    // The port pair is free again for someone else.
    udp_socket again(pair);
    EXPECT_EQ(again.port(), pair);

    int32_t other = -1;
    ASSERT_EQ(RTPCreate(&other), RTP_OK);
    uint16_t pair2 = free_port_pair();
    ASSERT_EQ(RTPSessionSetReceiveAddr(other, "127.0.0.1", pair2), RTP_OK);
    ASSERT_EQ(RTPOpenConnection(other), RTP_OK);
    ASSERT_EQ(RTPDestroy(other), RTP_OK);
    udp_socket after_destroy(pair2);
    EXPECT_EQ(after_destroy.port(), pair2);
}

TEST_F(Connection, MulticastSendAddressKeepsTtlAndLearnsOwnSource) {
    ASSERT_EQ(RTPSessionAddSendAddr(context_, "239.255.42.42", 5004, 3), RTP_OK);
    const rtp_address_t &a = ctx_->session->send_addresses.front();
    EXPECT_EQ(a.ttl, 3);
    int ttl = 0;
    socklen_t length = sizeof ttl;
    getsockopt(a.rtp_socket, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, &length);
    EXPECT_EQ(ttl, 3);
    EXPECT_EQ(ctx_->session->own_rtp_source.sin_family, AF_INET);
    EXPECT_EQ(ntohs(ctx_->session->own_rtp_source.sin_port), own_port(a.rtp_socket));
}

}  // namespace
}  // namespace sipline
