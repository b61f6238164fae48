// Helpers shared by the RTP engine's tests: crafted packets in wire order and plain UDP
// sockets on loopback to play the other end.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "rtp/context_internal.h"
#include "rtp/rtp.h"

namespace sipline::rtp_test {

inline void put16(std::vector<char> &p, size_t at, uint16_t v) {
    p[at] = static_cast<char>(v >> 8);
    p[at + 1] = static_cast<char>(v);
}
inline void put32(std::vector<char> &p, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[at + i] = static_cast<char>(v >> (24 - 8 * i));
    }
}
inline uint16_t get16(const char *p) {
    return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) << 8 | static_cast<uint8_t>(p[1]));
}
inline uint32_t get32(const char *p) {
    return static_cast<uint32_t>(get16(p)) << 16 | get16(p + 2);
}

struct rtp_packet_fields {
    uint8_t version = 2;
    bool padding = false;
    bool marker = false;
    uint8_t payload_type = 3;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0x11223344;
    std::vector<uint32_t> csrcs;
    size_t payload = 33;
};

// A wire-order RTP packet; with padding its last byte is the padding count 4.
inline std::vector<char> make_rtp(const rtp_packet_fields &s) {
    std::vector<char> p(12 + 4 * s.csrcs.size() + s.payload, 0);
    p[0] = static_cast<char>(s.version << 6 | (s.padding ? 0x20 : 0) | s.csrcs.size());
    p[1] = static_cast<char>((s.marker ? 0x80 : 0) | (s.payload_type & 0x7F));
    put16(p, 2, s.sequence);
    put32(p, 4, s.timestamp);
    put32(p, 8, s.ssrc);
    for (size_t i = 0; i < s.csrcs.size(); ++i) {
        put32(p, 12 + 4 * i, s.csrcs[i]);
    }
    if (s.padding) {
        p.back() = 4;
    }
    return p;
}

// A wire-order RR without blocks (8 bytes) from ssrc.
inline std::vector<char> make_rr(uint32_t ssrc, bool padding = false) {
    std::vector<char> p(8, 0);
    p[0] = static_cast<char>(0x80 | (padding ? 0x20 : 0));
    p[1] = static_cast<char>(RTCP_RR);
    put16(p, 2, 1);
    put32(p, 4, ssrc);
    return p;
}

inline sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A UDP socket bound on loopback; port 0 picks a free one.
class udp_socket {
  public:
    explicit udp_socket(uint16_t port = 0) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in a = loopback(port);
        ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    ~udp_socket() { ::close(fd_); }
    udp_socket(const udp_socket &) = delete;
    udp_socket &operator=(const udp_socket &) = delete;
    int fd() const { return fd_; }
    uint16_t port() const {
        sockaddr_in a{};
        socklen_t length = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &length);
        return ntohs(a.sin_port);
    }
    void send_to(const std::vector<char> &data, uint16_t port) const {
        sockaddr_in a = loopback(port);
        ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    // One datagram, or an empty vector after timeout_ms without one.
    std::vector<char> receive(int timeout_ms = 2000) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) != 1) {
            return {};
        }
        std::vector<char> data(65536);
        ssize_t n = ::recv(fd_, data.data(), data.size(), 0);
        data.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return data;
    }

  private:
    int fd_;
};

// Waits until the socket is readable (at most timeout_ms).
inline bool readable(int fd, int timeout_ms = 2000) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) == 1;
}

// An even port pair free at the moment of the call.
inline uint16_t free_port_pair() {
    for (;;) {
        uint16_t port = 0;
        {
            udp_socket probe;
            port = static_cast<uint16_t>(probe.port() & ~1);
        }
        udp_socket rtp(port);
        udp_socket rtcp(static_cast<uint16_t>(port + 1));
        if (rtp.port() == port && rtcp.port() == port + 1) {
            return port;
        }
    }
}

// A context made for each test and destroyed after it, with its record for the tests that
// look inside.
class context_test : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RTPCreate(&context_), RTP_OK);
        rtperror error = RTP_OK;
        ctx_ = RTPContextFind(context_, "test", &error);
        ASSERT_NE(ctx_, nullptr);
    }
    void TearDown() override { RTPDestroy(context_); }

    int32_t context_ = -1;
    rtp_context_t *ctx_ = nullptr;
};

}  // namespace sipline::rtp_test
