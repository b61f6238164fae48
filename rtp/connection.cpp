#include <arpa/inet.h>

#include "rtp/connection.h"
#include "rtp/context_internal.h"
#include "rtp/rtcp_internal.h"
#include "rtp/sockets_internal.h"

namespace sipline {

namespace {

constexpr int bind_attempts = 20;
// The dynamic port range of RFC 6335; RTP takes the even ports.
constexpr int dynamic_first = 49152;
constexpr int dynamic_pairs = (65534 - dynamic_first) / 2 + 1;

uint16_t dynamic_port() {
    auto pair = static_cast<int>(random_uniform() * dynamic_pairs);
    if (pair >= dynamic_pairs) {
        pair = dynamic_pairs - 1;
    }
    return static_cast<uint16_t>(dynamic_first + 2 * pair);
}

// Binds to (address, port); an address that is not local falls back to any address.
int bind_receive(int fd, uint32_t address, uint16_t port) {
    int result = rtp_socket_bind(fd, address, port);
    if (result == RTP_BIND_NOT_AVAILABLE && address != 0) {
        result = rtp_socket_bind(fd, 0, port);
    }
    return result;
}

}  // namespace

rtperror RTPOpenConnection(int32_t context) {
    constexpr const char *caller = "RTPOpenConnection";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextWithSession(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    rtp_session_t *session = ctx->session.get();
    if (session->open) {
        error = RTPCloseConnection(context, nullptr);
        if (error != RTP_OK) {
            return error;
        }
    }
    rtp_address_t *receive = session->receive_address.get();
    if (receive == nullptr) {
        return RTPReportError(RTP_BAD_ADDR, caller, "Address not yet set");
    }
    bool dynamic = receive->port == 0;
    bool multicast = rtp_is_multicast(receive->address);
    uint32_t bind_address = multicast ? 0 : receive->address;

    int rtp_fd = -1;
    int rtcp_fd = -1;
    for (int attempt = 0; attempt < bind_attempts && rtp_fd < 0; ++attempt) {
        if (dynamic) {
            receive->port = htons(dynamic_port());
        }
        uint16_t port = ntohs(receive->port);
        rtp_socket rtp;
        if (!rtp.valid()) {
            return RTPReportError(RTP_CANT_GET_SOCKET, caller,
                                  "couldn't get RTP socket for context %d", context);
        }
        rtp_socket rtcp;
        if (!rtcp.valid()) {
            return RTPReportError(RTP_CANT_GET_SOCKET, caller,
                                  "couldn't get RTCP socket for context %d", context);
        }
        // Sharing a port only makes sense for a group that several listeners join; a unicast
        // port that another socket holds must fail (or, when dynamic, lead to another port)
        // instead of silently splitting the traffic between the two.
        if (multicast) {
            if (rtp_socket_reuse_address(rtp.fd()) != 0) {
                return RTPReportError(RTP_CANT_SET_SOCKOPT, caller,
                                      "couldn't reuse RTP address for context %d", context);
            }
            if (rtp_socket_reuse_address(rtcp.fd()) != 0) {
                return RTPReportError(RTP_CANT_SET_SOCKOPT, caller,
                                      "couldn't reuse RTCP address for context %d", context);
            }
        }
        int result = bind_receive(rtp.fd(), bind_address, port);
        if (result == RTP_BIND_IN_USE && dynamic) {
            continue;
        }
        if (result != 0) {
            return RTPReportError(RTP_CANT_BIND_SOCKET, caller,
                                  "couldn't bind RTP address for context %d", context);
        }
        result = bind_receive(rtcp.fd(), bind_address, static_cast<uint16_t>(port + 1));
        if (result == RTP_BIND_IN_USE && dynamic) {
            continue;
        }
        if (result != 0) {
            return RTPReportError(RTP_CANT_BIND_SOCKET, caller,
                                  "couldn't bind RTCP address for context %d", context);
        }
        if (multicast) {
            if (rtp_socket_join(rtp.fd(), receive->address) != 0) {
                return RTPReportError(RTP_CANT_SET_SOCKOPT, caller,
                                      "couldn't join RTP multicast group for context %d", context);
            }
            if (rtp_socket_join(rtcp.fd(), receive->address) != 0) {
                return RTPReportError(RTP_CANT_SET_SOCKOPT, caller,
                                      "couldn't join RTCP multicast group for context %d", context);
            }
        }
        rtp_fd = rtp.release();
        rtcp_fd = rtcp.release();
    }
    if (rtp_fd < 0) {
        return RTPReportError(RTP_CANT_BIND_SOCKET, caller,
                              "couldn't bind dynamic address for context %d", context);
    }
    receive->rtp_socket = rtp_fd;
    receive->rtcp_socket = rtcp_fd;
    // A close left the send addresses without sockets; a reopened connection sends again.
    for (rtp_address_t &address : session->send_addresses) {
        if (address.rtp_socket < 0 && !address.removed) {
            error = RTPConnectSendAddress(session, &address, context, caller);
            if (error != RTP_OK) {
                rtp_socket_close(receive->rtp_socket);
                rtp_socket_close(receive->rtcp_socket);
                receive->rtp_socket = receive->rtcp_socket = -1;
                return error;
            }
        }
    }
    RTCPStart(ctx);
    session->open = 1;
    return RTP_OK;
}

rtperror RTPCloseConnection(int32_t context, const char *reason) {
    constexpr const char *caller = "RTPCloseConnection";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextWithSession(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    rtp_session_t *session = ctx->session.get();
    if (!session->open) {
        return RTP_OK;
    }
    RTCPEnd(ctx, reason);
    auto close_pair = [&](rtp_address_t &address) -> rtperror {
        if (address.rtp_socket >= 0) {
            if (rtp_socket_close(address.rtp_socket) != 0) {
                return RTPReportError(RTP_CANT_CLOSE_SESSION, caller,
                                      "context %d couldn't close RTP session", context);
            }
            address.rtp_socket = -1;
        }
        if (address.rtcp_socket >= 0) {
            if (rtp_socket_close(address.rtcp_socket) != 0) {
                return RTPReportError(RTP_CANT_CLOSE_SESSION, caller,
                                      "context %d couldn't close RTCP session", context);
            }
            address.rtcp_socket = -1;
        }
        return RTP_OK;
    };
    error = close_pair(*session->receive_address);
    for (auto it = session->send_addresses.begin();
         error == RTP_OK && it != session->send_addresses.end(); ++it) {
        error = close_pair(*it);
    }
    if (error != RTP_OK) {
        return error;
    }
    session->open = 0;
    return RTP_OK;
}

namespace {

rtperror receive_socket(int32_t context, const char *caller, bool rtcp, int *socket) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextWithSession(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    if (!ctx->session->open) {
        return RTPReportError(RTP_SOCKET_NOT_OPEN, caller, "context %d, connection not yet opened.",
                              context);
    }
    const rtp_address_t &receive = *ctx->session->receive_address;
    *socket = rtcp ? receive.rtcp_socket : receive.rtp_socket;
    return RTP_OK;
}

}  // namespace

rtperror RTPSessionGetRTPSocket(int32_t context, int *socket) {
    return receive_socket(context, "RTPSessionGetRTPSocket", false, socket);
}

rtperror RTPSessionGetRTCPSocket(int32_t context, int *socket) {
    return receive_socket(context, "RTPSessionGetRTCPSocket", true, socket);
}

}  // namespace sipline
