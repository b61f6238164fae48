// The socket calls of the engine: IPv4 UDP sockets, owned through rtp_socket until they are
// handed to an address record.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>

namespace sipline {

class rtp_socket {
  public:
    rtp_socket();  // a new IPv4 UDP socket; valid() tells whether it was made
    ~rtp_socket();
    rtp_socket(const rtp_socket &) = delete;
    rtp_socket &operator=(const rtp_socket &) = delete;
    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int release();  // hands the descriptor over

  private:
    int fd_;
};

inline constexpr int RTP_BIND_IN_USE = -2;
inline constexpr int RTP_BIND_NOT_AVAILABLE = -3;

// address in network order, port in host order.
sockaddr_in rtp_socket_address(uint32_t address, uint16_t port);
int rtp_socket_connect(int fd, uint32_t address, uint16_t port);
// 0, RTP_BIND_IN_USE, RTP_BIND_NOT_AVAILABLE or -1.
int rtp_socket_bind(int fd, uint32_t address, uint16_t port);
int rtp_socket_reuse_address(int fd);
int rtp_socket_multicast_ttl(int fd, uint8_t ttl);
int rtp_socket_join(int fd, uint32_t group);
// Prints "Getsockname error: %d\n" on failure.
int rtp_socket_own_address(int fd, sockaddr_in *address);
int rtp_socket_close(int fd);
// sendmsg on a connected socket. A refusal (ECONNREFUSED) reports the ICMP port unreachable of
// an earlier datagram and sends nothing, so the datagram is sent once more: a peer whose port
// is closed for a while still gets every packet once it listens again, and the pace holds.
// *refused tells that the refusal came (the caller still reports it).
ssize_t rtp_socket_send(int fd, const msghdr *message, bool *refused);

bool rtp_is_multicast(uint32_t address);  // address in network order
// 0 and the address (network order); -1 when it does not resolve, or resolves to
// 255.255.255.255. A null or empty name is address 0.
int rtp_resolve(const char *host, uint32_t *address);

}  // namespace sipline
