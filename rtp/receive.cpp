#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "rtp/context_internal.h"
#include "rtp/members_internal.h"
#include "rtp/receive.h"
#include "rtp/rtcp_internal.h"

namespace sipline {

namespace {

constexpr uint8_t rtp_version = 2;

thread_local char address_text[INET_ADDRSTRLEN];
thread_local char port_text[8];

rtperror invalid_rtp(const rtp_context_t *ctx) {
    return RTPReportError(RTP_BAD_PACKET_FORMAT, "RTPPacketReceived",
                          "context %d, invalid RTP packet format", ctx->number);
}

rtperror invalid_rtcp(const rtp_context_t *ctx) {
    return RTPReportError(RTP_BAD_PACKET_FORMAT, "RTPPacketReceived",
                          "context %d, invalid RTCP packet format", ctx->number);
}

// The member that sent an RTP packet. Our own SSRC from elsewhere than our own address is a
// collision (RFC 1889 section 8.2): the other participant becomes a member of its own.
rtp_member_t *rtp_sender(rtp_context_t *ctx, uint32_t ssrc, const sockaddr_in *from,
                         const timeval &now) {
    rtp_member_t *found = RTPMemberBySSRC(ctx, ssrc);
    if (found != ctx->own || from == nullptr) {
        return RTPMemberFoundOrCreate(ctx, found, ssrc, from, false, false, now);
    }
    for (rtp_member_t *m = ctx->own->collision_next; m != nullptr; m = m->collision_next) {
        if (RTPAddressKnown(m->rtp_address) && RTPSameAddress(m->rtp_address, *from)) {
            RTPMemberHeard(ctx, m, now);
            return m;
        }
    }
    return RTCPResolveCollision(ctx, ctx->own, from, false, false, now);
}

rtperror rtp_received(rtp_context_t *ctx, char *buffer, int32_t length, const sockaddr_in *from,
                      bool from_own_address) {
    if (RTPHeaderToHost(buffer, length) != RTP_OK) {
        return invalid_rtp(ctx);
    }
    rtp_packet_info_t info{};
    if ((static_cast<uint8_t>(buffer[0]) & 3) != rtp_version ||
        RTPGetRTPPacketInfo(&info, buffer, length) != RTP_OK) {
        return invalid_rtp(ctx);
    }
    uint32_t ssrc = rtp_host32(buffer + 8);
    if (from_own_address && (ssrc == ctx->ssrc || ssrc == ctx->start_ssrc)) {
        return RTPReportError(RTP_PACKET_LOOPBACK, "RTPPacketReceived",
                              "context %d, got my own RTP packet", ctx->number);
    }
    // The one clock reading for this packet: its arrival, and when its members were heard.
    const timeval arrival = rtp_now();
    rtp_member_t *m = rtp_sender(ctx, ssrc, from, arrival);
    RTPMemberCountSSRC(ctx, m);
    ctx->recent_rtp_sender = m;
    RTPMemberActivity(ctx, m, true, arrival);
    int32_t csrcs = static_cast<uint8_t>(buffer[0]) >> 4;
    for (int32_t i = 0; i < csrcs; ++i) {
        uint32_t csrc = rtp_load32(buffer + 12 + 4 * i);
        RTPMemberCountCSRC(ctx, RTPMemberFindOrCreate(ctx, csrc, from, false, true, arrival));
    }
    uint16_t sequence;
    std::memcpy(&sequence, buffer + 2, sizeof sequence);
    RTPUpdateStats(ctx, m, sequence, rtp_host32(buffer + 4),
                   static_cast<uint8_t>(static_cast<uint8_t>(buffer[1]) >> 1), arrival);
    return RTP_OK;
}

// The SSRC that sent a compound: the sender of its first packet.
bool first_ssrc(const char *packet, int32_t bytes, uint32_t *ssrc) {
    if (bytes < 8) {
        return false;
    }
    switch (static_cast<uint8_t>(packet[1])) {
        case RTCP_SR:
        case RTCP_RR:
            *ssrc = rtp_host32(packet + 4);
            return true;
        case RTCP_SDES:
        case RTCP_BYE:
            *ssrc = rtp_load32(packet + 4);
            return true;
        default:
            return false;
    }
}

rtperror rtcp_received(rtp_context_t *ctx, char *buffer, int32_t length, const sockaddr_in *from,
                       int32_t from_length, bool from_own_address) {
    char *packets[RTCP_MAX_COMPOUND];
    int32_t count = 0;
    int32_t offset = 0;
    while (offset + 4 <= length && count < RTCP_MAX_COMPOUND) {
        char *packet = buffer + offset;
        RTCPCommonToHost(packet);
        uint16_t words;
        std::memcpy(&words, packet + 2, sizeof words);
        packets[count++] = packet;
        offset += (words + 1) * 4;
    }
    if (offset != length || count == 0 || (static_cast<uint8_t>(packets[0][0]) & 0x04) != 0) {
        return invalid_rtcp(ctx);
    }
    for (int32_t i = 0; i < count; ++i) {
        if ((static_cast<uint8_t>(packets[i][0]) & 3) != rtp_version) {
            return invalid_rtcp(ctx);
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        char *end = i + 1 < count ? packets[i + 1] : buffer + length;
        RTCPBodyToHost(packets[i], static_cast<int32_t>(end - packets[i]));
    }
    uint32_t ssrc = 0;
    int32_t first_bytes =
        static_cast<int32_t>((count > 1 ? packets[1] : buffer + length) - packets[0]);
    if (!first_ssrc(packets[0], first_bytes, &ssrc)) {
        return invalid_rtcp(ctx);
    }
    if (from_own_address && (ssrc == ctx->ssrc || ssrc == ctx->start_ssrc)) {
        return RTPReportError(RTP_PACKET_LOOPBACK, "RTPPacketReceived",
                              "context %d, got my own RTCP packet", ctx->number);
    }
    for (int32_t i = 0; i < count; ++i) {
        UpdateMemberInfoByRTCP(ctx, packets[i], from, from_length, i);
        RTCPMemberTimeouts(ctx);
    }
    return RTP_OK;
}

rtperror packet_received(rtp_context_t *ctx, char *buffer, int32_t length, const sockaddr_in *from,
                         int32_t from_length, bool rtcp, bool from_own_address) {
    rtp_busy_guard busy(ctx->busy);
    if (!busy.taken()) {
        return RTPBusyError(ctx, "RTPPacketReceived");
    }
    bool have_from = from != nullptr && from_length >= static_cast<int32_t>(sizeof *from);
    if (have_from) {
        ctx->recent_address = *from;
    }
    const sockaddr_in *source = have_from ? from : nullptr;
    if (buffer == nullptr || length < 0) {
        return rtcp ? invalid_rtcp(ctx) : invalid_rtp(ctx);
    }
    return rtcp ? rtcp_received(ctx, buffer, length, source, from_length, from_own_address)
                : rtp_received(ctx, buffer, length, source, from_own_address);
}

}  // namespace

rtperror RTPPacketReceived(int32_t context, char *buffer, int32_t length, const sockaddr_in *from,
                           int32_t from_length, int32_t rtcp, int32_t from_own_address) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPPacketReceived", &error);
    if (ctx == nullptr) {
        return error;
    }
    return packet_received(ctx, buffer, length, from, from_length, rtcp != 0,
                           from_own_address != 0);
}

rtperror RTPReceive(int32_t context, int socket, char *buffer, int32_t *length) {
    constexpr const char *caller = "RTPReceive";
    rtp_session_call call(context, caller);
    rtp_context_t *ctx = call.context();
    if (ctx == nullptr) {
        return call.error();
    }
    rtp_session_t *session = ctx->session.get();
    const rtp_address_t *receive = session->receive_address.get();
    if (!session->open || receive == nullptr ||
        (socket != receive->rtp_socket && socket != receive->rtcp_socket)) {
        return RTPReportError(RTP_SOCKET_MISMATCH, caller,
                              "context %d, socket provided not RTP socket nor RTCP socket",
                              context);
    }
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    // MSG_TRUNC reports the datagram's true size, so a datagram that exactly fills the
    // buffer is told apart from one that was cut.
    ssize_t size = ::recvfrom(socket, buffer, static_cast<size_t>(*length > 0 ? *length : 0),
                              MSG_TRUNC, reinterpret_cast<sockaddr *>(&from), &from_length);
    if (size < 0) {
        return RTPReportError(RTP_SOCKET_READ_FAILURE, caller, "Could not read from socket %d",
                              socket);
    }
    if (size > *length) {
        *length = static_cast<int32_t>(size);
        return RTPReportError(RTP_INSUFFICIENT_BUFFER, caller,
                              "context %d, insufficient buffer provided to hold packet", context);
    }
    *length = static_cast<int32_t>(size);
    bool rtcp = socket == receive->rtcp_socket;
    const sockaddr_in &own = rtcp ? session->own_rtcp_source : session->own_rtp_source;
    bool from_own = own.sin_family != 0 && own.sin_port == from.sin_port &&
                    (own.sin_addr.s_addr == 0 || own.sin_addr.s_addr == from.sin_addr.s_addr);
    return packet_received(ctx, buffer, *length, &from, static_cast<int32_t>(from_length), rtcp,
                           from_own);
}

namespace {

rtperror recent_person(int32_t context, const char *caller, bool rtcp, int32_t *member) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    const rtp_member_t *m = rtcp ? ctx->recent_rtcp_sender : ctx->recent_rtp_sender;
    if (m == nullptr) {
        return RTPReportError(RTP_NO_SUCH_PERSON, caller,
                              rtcp ? "context %d person left or no rtcp packets received"
                                   : "context %d person left or no rtp packets received",
                              context);
    }
    *member = m->id;
    return RTP_OK;
}

}  // namespace

rtperror RTPMostRecentRTPPerson(int32_t context, int32_t *member) {
    return recent_person(context, "RTPMostRecentRTPPerson", false, member);
}

rtperror RTPMostRecentRTCPPerson(int32_t context, int32_t *member) {
    return recent_person(context, "RTPMostRecentRTCPPerson", true, member);
}

rtperror RTPMostRecentAddr(int32_t context, sockaddr_in *address) {
    constexpr const char *caller = "RTPMostRecentAddr";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    if (!RTPAddressKnown(ctx->recent_address)) {
        return RTPReportError(RTP_BAD_ADDR, caller, "context %d no packets recieved", context);
    }
    *address = ctx->recent_address;
    return RTP_OK;
}

rtperror RTPMostRecentAddrText(int32_t context, const char **address, const char **port) {
    sockaddr_in recent{};
    rtperror error = RTPMostRecentAddr(context, &recent);
    if (error != RTP_OK) {
        return error;
    }
    inet_ntop(AF_INET, &recent.sin_addr, address_text, sizeof address_text);
    std::snprintf(port_text, sizeof port_text, "%hu", ntohs(recent.sin_port));
    *address = address_text;
    *port = port_text;
    return RTP_OK;
}

rtperror RTPSenderInfoGetFracLost(int32_t context, int32_t member, rtp_report_t *report) {
    constexpr const char *caller = "RTPSenderInfoGetFracLost";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = nullptr;
    rtp_member_t *m = RTPMemberFind(context, member, caller, &error, &ctx);
    if (m == nullptr) {
        return error;
    }
    if (m->stats == nullptr) {
        return RTPReportError(RTP_NO_SUCH_SENDER, caller, "context %d, person %ld is not a sender",
                              context, static_cast<long>(member));
    }
    RTPReportBlock(ctx, m, false, report);
    report->reporter = ctx->own->id;
    return RTP_OK;
}

}  // namespace sipline
