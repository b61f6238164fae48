#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "rtp/sockets_internal.h"
#include "support/resolve.h"

namespace sipline {

rtp_socket::rtp_socket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

rtp_socket::~rtp_socket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int rtp_socket::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

sockaddr_in rtp_socket_address(uint32_t address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = address;
    return a;
}

int rtp_socket_connect(int fd, uint32_t address, uint16_t port) {
    sockaddr_in a = rtp_socket_address(address, port);
    return ::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0 ? 0 : -1;
}

int rtp_socket_bind(int fd, uint32_t address, uint16_t port) {
    sockaddr_in a = rtp_socket_address(address, port);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0) {
        return 0;
    }
    if (errno == EADDRINUSE) {
        return RTP_BIND_IN_USE;
    }
    return errno == EADDRNOTAVAIL ? RTP_BIND_NOT_AVAILABLE : -1;
}

int rtp_socket_reuse_address(int fd) {
    int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : -1;
}

int rtp_socket_multicast_ttl(int fd, uint8_t ttl) {
    int value = ttl;
    return ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &value, sizeof value) == 0 ? 0 : -1;
}

int rtp_socket_join(int fd, uint32_t group) {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = group;
    request.imr_interface.s_addr = htonl(INADDR_ANY);
    return ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 ? 0 : -1;
}

int rtp_socket_own_address(int fd, sockaddr_in *address) {
    socklen_t length = sizeof *address;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(address), &length) != 0) {
        std::printf("Getsockname error: %d\n", errno);
        return -1;
    }
    return 0;
}

int rtp_socket_close(int fd) {
    return ::close(fd) == 0 ? 0 : -1;
}

bool rtp_is_multicast(uint32_t address) {
    uint32_t first = ntohl(address) >> 24;
    return first >= 224 && first <= 239;
}

int rtp_resolve(const char *host, uint32_t *address) {
    if (host == nullptr || *host == '\0') {
        *address = 0;
        return 0;
    }
    in_addr resolved{};
    if (resolve_host(host, &resolved) != 0 || resolved.s_addr == INADDR_NONE) {
        return -1;
    }
    *address = resolved.s_addr;
    return 0;
}

ssize_t rtp_socket_send(int fd, const msghdr *message, bool *refused) {
    ssize_t sent = ::sendmsg(fd, message, MSG_NOSIGNAL);
    *refused = sent < 0 && errno == ECONNREFUSED;
    if (*refused) {
        sent = ::sendmsg(fd, message, MSG_NOSIGNAL);
    }
    return sent;
}

}  // namespace sipline
