#include <arpa/inet.h>

#include <unistd.h>

#include "rtp/connection.h"
#include "rtp/context_internal.h"
#include "rtp/sockets_internal.h"

namespace sipline {

namespace {

// RTP takes the even port of a pair, RTCP the odd one above it.
uint16_t even_port(uint16_t port) {
    return static_cast<uint16_t>(port & ~1u);
}

// A send address as its record holds it: network order, the even port (or, for a symmetric
// session, the port as given: a NAT hands out odd ones too), a TTL only for a group. The sockets
// are left alone.
rtperror send_address_of(const rtp_session_t &session, const char *host, uint16_t port, uint8_t ttl,
                         const char *caller, rtp_address_t *record) {
    if (rtp_resolve(host, &record->address) != 0) {
        return RTPReportError(RTP_BAD_ADDR, caller, "Could not resolve address");
    }
    record->port = htons(session.symmetric != 0 ? port : even_port(port));
    record->ttl = rtp_is_multicast(record->address) ? ttl : 0;
    return RTP_OK;
}

thread_local char address_text[INET_ADDRSTRLEN];

}  // namespace

rtperror RTPConnectSendAddress(rtp_session_t *session, rtp_address_t *record, int32_t context,
                               const char *caller) {
    uint16_t port = ntohs(record->port);
    if (session->symmetric != 0 && !rtp_is_multicast(record->address)) {
        // Symmetric RTP (RFC 4961): sent from the receive sockets, once they are bound; the
        // opening of the connection comes back here for a record still without sockets.
        const rtp_address_t *receive = session->receive_address.get();
        if (receive == nullptr || receive->rtp_socket < 0 || receive->rtcp_socket < 0) {
            return RTP_OK;
        }
        const int rtp_copy = ::dup(receive->rtp_socket);
        const int rtcp_copy = rtp_copy >= 0 ? ::dup(receive->rtcp_socket) : -1;
        if (rtcp_copy < 0) {
            if (rtp_copy >= 0) {
                ::close(rtp_copy);
            }
            return RTPReportError(RTP_CANT_GET_SOCKET, caller,
                                  "couldn't get RTP socket for context %d", context);
        }
        record->shared = 1;
        record->rtp_to.sin_family = AF_INET;
        record->rtp_to.sin_addr.s_addr = record->address;
        record->rtp_to.sin_port = record->port;
        record->rtcp_to = record->rtp_to;
        record->rtcp_to.sin_port = htons(static_cast<uint16_t>(port + 1));
        record->rtp_socket = rtp_copy;
        record->rtcp_socket = rtcp_copy;
        return RTP_OK;
    }
    rtp_socket rtp;
    if (!rtp.valid()) {
        return RTPReportError(RTP_CANT_GET_SOCKET, caller, "couldn't get RTP socket for context %d",
                              context);
    }
    rtp_socket rtcp;
    if (!rtcp.valid()) {
        return RTPReportError(RTP_CANT_GET_SOCKET, caller,
                              "couldn't get RTCP socket for context %d", context);
    }
    if (rtp_socket_connect(rtp.fd(), record->address, port) != 0) {
        return RTPReportError(RTP_CANT_GET_SOCKET, caller,
                              "couldn't connect RTP socket for context %d", context);
    }
    if (rtp_socket_connect(rtcp.fd(), record->address, static_cast<uint16_t>(port + 1)) != 0) {
        return RTPReportError(RTP_CANT_GET_SOCKET, caller,
                              "couldn't connect RTCP socket for context %d", context);
    }
    if (rtp_is_multicast(record->address)) {
        if (rtp_socket_multicast_ttl(rtp.fd(), record->ttl) != 0) {
            return RTPReportError(RTP_CANT_SET_SOCKOPT, caller,
                                  "couldn't set RTP TTL for context %d", context);
        }
        if (rtp_socket_multicast_ttl(rtcp.fd(), record->ttl) != 0) {
            return RTPReportError(RTP_CANT_SET_SOCKOPT, caller,
                                  "couldn't set RTCP TTL for context %d", context);
        }
        sockaddr_in own_rtp{};
        sockaddr_in own_rtcp{};
        if (rtp_socket_own_address(rtp.fd(), &own_rtp) != 0) {
            return RTPReportError(RTP_CANT_GET_SOCKET, caller,
                                  "Couldn't get RTP source address for context %d", context);
        }
        if (rtp_socket_own_address(rtcp.fd(), &own_rtcp) != 0) {
            return RTPReportError(RTP_CANT_GET_SOCKET, caller,
                                  "Couldn't get RTCP source address for context %d", context);
        }
        session->own_rtp_source = own_rtp;
        session->own_rtcp_source = own_rtcp;
    }
    record->rtp_socket = rtp.release();
    record->rtcp_socket = rtcp.release();
    return RTP_OK;
}

rtperror RTPSessionAddSendAddr(int32_t context, const char *host, uint16_t port, uint8_t ttl) {
    constexpr const char *caller = "RTPSessionAddSendAddr";
    rtperror error = RTP_OK;
    rtp_session_t *session = RTPSessionFind(context, caller, &error);
    if (session == nullptr) {
        return error;
    }
    if (even_port(port) == 0) {
        return RTPReportError(RTP_BAD_PORT, caller, "Port number zero not allowed");
    }
    rtp_address_t record;
    error = send_address_of(*session, host, port, ttl, caller, &record);
    if (error != RTP_OK) {
        return error;
    }
    error = RTPConnectSendAddress(session, &record, context, caller);
    if (error != RTP_OK) {
        return error;
    }
    session->send_addresses.push_front(record);
    return RTP_OK;
}

rtperror RTPSessionRemoveSendAddr(int32_t context, const char *host, uint16_t port, uint8_t ttl) {
    constexpr const char *caller = "RTPSessionRemoveSendAddr";
    rtperror error = RTP_OK;
    rtp_session_t *session = RTPSessionFind(context, caller, &error);
    if (session == nullptr) {
        return error;
    }
    rtp_address_t wanted;
    error = send_address_of(*session, host, port, ttl, caller, &wanted);
    if (error != RTP_OK) {
        return error;
    }
    for (rtp_address_t &record : session->send_addresses) {
        if (!record.removed && record.address == wanted.address && record.port == wanted.port &&
            record.ttl == wanted.ttl) {
            record.removed = 1;
            return RTP_OK;
        }
    }
    return RTPReportError(RTP_BAD_ADDR, caller, "No such address");
}

rtperror RTPSessionSetSendRTCPPort(int32_t context, const char *host, uint16_t port,
                                   uint16_t rtcp_port) {
    constexpr const char *caller = "RTPSessionSetSendRTCPPort";
    rtperror error = RTP_OK;
    rtp_session_t *session = RTPSessionFind(context, caller, &error);
    if (session == nullptr) {
        return error;
    }
    if (rtcp_port == 0) {
        return RTPReportError(RTP_BAD_PORT, caller, "Port number zero not allowed");
    }
    rtp_address_t wanted;
    error = send_address_of(*session, host, port, 0, caller, &wanted);
    if (error != RTP_OK) {
        return error;
    }
    for (rtp_address_t &record : session->send_addresses) {
        if (!record.removed && record.shared != 0 && record.address == wanted.address &&
            record.port == wanted.port) {
            record.rtcp_to.sin_port = htons(rtcp_port);
            return RTP_OK;
        }
    }
    return RTPReportError(RTP_BAD_ADDR, caller, "No such symmetric address");
}

rtperror RTPSessionSetReceiveAddr(int32_t context, const char *host, uint16_t port) {
    constexpr const char *caller = "RTPSessionSetReceiveAddr";
    rtperror error = RTP_OK;
    rtp_session_t *session = RTPSessionFind(context, caller, &error);
    if (session == nullptr) {
        return error;
    }
    if (session->open) {
        return RTPReportError(RTP_FIXED_WHEN_OPEN, caller,
                              "Cannot change address during opened connection");
    }
    uint32_t address = 0;
    if (rtp_resolve(host, &address) != 0) {
        return RTPReportError(RTP_BAD_ADDR, caller, "Could not resolve address");
    }
    if (session->receive_address == nullptr) {
        session->receive_address = std::make_unique<rtp_address_t>();
    }
    session->receive_address->address = address;
    session->receive_address->port = htons(even_port(port));
    session->receive_address->ttl = 0;
    return RTP_OK;
}

rtperror RTPSessionSetLocalAddr(int32_t context, const char *host, uint16_t port) {
    return RTPSessionSetReceiveAddr(context, host, port);
}

rtperror RTPSessionGetReceiveAddr(int32_t context, const char **host, uint16_t *port) {
    constexpr const char *caller = "RTPSessionGetReceiveAddr";
    rtperror error = RTP_OK;
    rtp_session_t *session = RTPSessionFind(context, caller, &error);
    if (session == nullptr) {
        return error;
    }
    if (session->receive_address == nullptr) {
        return RTPReportError(RTP_BAD_ADDR, caller, "Address not yet set");
    }
    in_addr address{session->receive_address->address};
    inet_ntop(AF_INET, &address, address_text, sizeof address_text);
    *host = address_text;
    *port = ntohs(session->receive_address->port);
    return RTP_OK;
}

}  // namespace sipline

namespace sipline {

rtperror RTPSessionSetSymmetric(int32_t context, int32_t symmetric) {
    rtperror error = RTP_OK;
    rtp_session_t *session = RTPSessionFind(context, "RTPSessionSetSymmetric", &error);
    if (session == nullptr) {
        return error;
    }
    session->symmetric = symmetric != 0 ? 1 : 0;
    return RTP_OK;
}

}  // namespace sipline
