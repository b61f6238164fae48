#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "rtp/context_internal.h"
#include "rtp/members_internal.h"
#include "rtp/send.h"
#include "rtp/sockets_internal.h"

namespace sipline {

namespace {

constexpr int32_t fixed_header = 12;
// Gathers up to this many pieces without touching the heap.
constexpr int32_t inline_pieces = 16;

int32_t header_length(const rtp_context_t *ctx) {
    int32_t length = fixed_header + 4 * (ctx->csrc_list_set ? ctx->csrc_count : 0);
    if (ctx->extension != nullptr) {
        length += 4 + 4 * ctx->extension->ext_len;
    }
    return length;
}

rtperror build_header(rtp_context_t *ctx, int32_t increment, char marker, int16_t payload_type,
                      char padding, uint32_t payload_length, char *buffer, int32_t *length) {
    constexpr const char *caller = "RTPBuildRTPHeader";
    rtp_busy_guard busy(ctx->busy);
    if (!busy.taken()) {
        return RTPBusyError(ctx, caller);
    }
    int32_t needed = header_length(ctx);
    if (*length < needed) {
        return RTPReportError(RTP_INSUFFICIENT_BUFFER, caller,
                              "context %d, insufficient buffer provided for RTP header",
                              ctx->number);
    }
    *length = needed;
    if (ctx->initial && ctx->packets_sent == 0) {
        RTPChooseSSRC(ctx);
    }
    RTPMemberActivity(ctx, ctx->own, true, rtp_now());
    ctx->timestamp_advance += static_cast<uint32_t>(increment);

    int32_t csrcs = ctx->csrc_list_set ? ctx->csrc_count : 0;
    auto first = static_cast<uint8_t>(2 << 6 | (padding ? 1 : 0) << 5 |
                                      (ctx->extension ? 1 : 0) << 4 | csrcs);
    auto second = static_cast<uint8_t>((marker & 1) << 7 | (payload_type & 0x7F));
    buffer[0] = static_cast<char>(first);
    buffer[1] = static_cast<char>(second);
    rtp_store16(buffer + 2, static_cast<uint16_t>(ctx->next_sequence));
    ++ctx->next_sequence;
    rtp_store32(buffer + 4, ctx->timestamp_base + ctx->timestamp_advance);
    rtp_store32(buffer + 8, ctx->ssrc);
    char *at = buffer + fixed_header;
    for (int32_t i = 0; i < csrcs; ++i, at += 4) {
        rtp_store32(at, ctx->csrc[i]);
    }
    if (ctx->extension != nullptr) {
        rtp_store16(at, ctx->extension->ext_type);
        rtp_store16(at + 2, ctx->extension->ext_len);
        std::memcpy(at + 4, ctx->extension + 1, 4 * static_cast<size_t>(ctx->extension->ext_len));
    }
    ctx->octets_sent += payload_length;
    ++ctx->packets_sent;
    return RTP_OK;
}

void report_send_failure(rtp_context_t *ctx, const rtp_address_t &address) {
    rtp_session_t *session = ctx->session.get();
    if (session->send_error == nullptr) {
        return;
    }
    char text[INET_ADDRSTRLEN] = "";
    in_addr in{address.address};
    inet_ntop(AF_INET, &in, text, sizeof text);
    session->send_error(ctx->number, text, ntohs(address.port), address.ttl);
}

// Records marked by RTPSessionRemoveSendAddr leave the list once a send has passed them.
void drop_removed(rtp_session_t *session) {
    session->send_addresses.remove_if([](const rtp_address_t &address) {
        if (!address.removed) {
            return false;
        }
        if (address.rtp_socket >= 0) {
            rtp_socket_close(address.rtp_socket);
        }
        if (address.rtcp_socket >= 0) {
            rtp_socket_close(address.rtcp_socket);
        }
        return true;
    });
}

}  // namespace

rtperror RTPBuildRTPHeader(int32_t context, int32_t timestamp_increment, char marker,
                           int16_t payload_type, char padding, int32_t payload_length, char *buffer,
                           int32_t *length) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPBuildRTPHeader", &error);
    if (ctx == nullptr) {
        return error;
    }
    return build_header(ctx, timestamp_increment, marker, payload_type, padding,
                        static_cast<uint32_t>(payload_length), buffer, length);
}

rtperror RTPSendVector(int32_t context, int32_t timestamp_increment, char marker,
                       int16_t payload_type, const rtp_piece_t *pieces, int32_t count) {
    constexpr const char *caller = "RTPSendVector";
    rtp_session_call call(context, caller);
    rtp_context_t *ctx = call.context();
    if (ctx == nullptr) {
        return call.error();
    }
    rtp_session_t *session = ctx->session.get();
    if (session->send_addresses.empty()) {
        return RTPReportError(RTP_BAD_ADDR, caller, "context %d, no send addresses", context);
    }
    // One entry for the header; the rest of what one sendmsg takes for the pieces.
    if (count < 0 || count > IOV_MAX - 1 || (count > 0 && pieces == nullptr)) {
        return RTPReportError(RTP_BAD_VALUE, caller,
                              "context %d, %d payload pieces, at most %d allowed", context, count,
                              IOV_MAX - 1);
    }
    iovec inline_entries[inline_pieces + 1];
    std::vector<iovec> heap_entries;
    iovec *entries = inline_entries;
    if (count > inline_pieces) {
        try {
            heap_entries.resize(static_cast<size_t>(count) + 1);
        } catch (const std::bad_alloc &) {
            return RTPReportError(RTP_CANT_ALLOC_MEM, caller, "context %d, couldn't allocate iovec",
                                  context);
        }
        entries = heap_entries.data();
    }
    uint32_t payload_length = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (pieces[i].length < 0 || (pieces[i].length > 0 && pieces[i].data == nullptr)) {
            return RTPReportError(RTP_BAD_VALUE, caller, "context %d, invalid payload piece %d",
                                  context, i);
        }
        entries[i + 1].iov_base = const_cast<void *>(pieces[i].data);
        entries[i + 1].iov_len = static_cast<size_t>(pieces[i].length);
        payload_length += static_cast<uint32_t>(pieces[i].length);
    }
    int32_t length = RTP_PACKET_BUFFER_SIZE;
    rtperror error = build_header(ctx, timestamp_increment, marker, payload_type, 0, payload_length,
                                  session->buffer.data(), &length);
    if (error != RTP_OK) {
        return error;
    }
    entries[0].iov_base = session->buffer.data();
    entries[0].iov_len = static_cast<size_t>(length);
    msghdr message{};
    message.msg_iov = entries;
    message.msg_iovlen = static_cast<size_t>(count) + 1;

    bool removed = false;
    rtperror result = RTP_OK;
    for (const rtp_address_t &address : session->send_addresses) {
        if (address.removed) {
            removed = true;
            continue;
        }
        bool refused = false;
        message.msg_name = address.shared != 0 ? const_cast<sockaddr_in *>(&address.rtp_to) : nullptr;
        message.msg_namelen = address.shared != 0 ? sizeof address.rtp_to : 0;
        if (rtp_socket_send(address.rtp_socket, &message, &refused) < 0 || refused) {
            result = RTPReportError(RTP_SOCKET_WRITE_FAILURE, caller,
                                    "context %d could not write to RTP socket", context);
            report_send_failure(ctx, address);
        }
    }
    if (removed) {
        drop_removed(session);
    }
    return result;
}

rtperror RTPSend(int32_t context, int32_t timestamp_increment, char marker, int16_t payload_type,
                 const void *payload, int32_t length) {
    rtp_piece_t piece{payload, length};
    return RTPSendVector(context, timestamp_increment, marker, payload_type, &piece, 1);
}

rtperror RTPSessionGetRTPHeaderLength(int32_t context, int32_t *length) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPSessionGetRTPHeaderLength", &error);
    if (ctx == nullptr) {
        return error;
    }
    *length = header_length(ctx);
    return RTP_OK;
}

rtperror RTPSessionSetExtension(int32_t context, const rtp_hdr_ext_t *extension) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPSessionSetExtension", &error);
    if (ctx == nullptr) {
        return error;
    }
    ctx->extension = extension;
    return RTP_OK;
}

rtperror RTPSessionGetExtension(int32_t context, const rtp_hdr_ext_t **extension) {
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, "RTPSessionGetExtension", &error);
    if (ctx == nullptr) {
        return error;
    }
    *extension = ctx->extension;
    return RTP_OK;
}

}  // namespace sipline
