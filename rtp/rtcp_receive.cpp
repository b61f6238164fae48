#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "rtp/members_internal.h"
#include "rtp/rtcp_collision.h"
#include "rtp/rtcp_internal.h"
#include "rtp/rtcp_xr.h"

namespace sipline {

namespace {

constexpr char caller[] = "UpdateMemberInfoByRTCP";

constexpr int32_t sr_blocks_at = 28;
constexpr int32_t rr_blocks_at = 8;
constexpr int32_t block_size = 24;

// One packet of a validated compound in host form: its length field was checked against the
// datagram, so [packet, packet + bytes) is readable and nothing here reads beyond it.
// now: the packet's one clock reading, for every member it stamps.
struct rtcp_view {
    char *packet;
    int32_t bytes;
    int32_t count;
    uint8_t type;
    timeval now;
};

rtcp_view view_of(char *packet, const timeval &now) {
    rtcp_common_t common;
    std::memcpy(&common, packet, sizeof common);
    return {packet, (common.length + 1) * 4, common.count, common.pt, now};
}

// Every RTCP packet from a member counts as hearing from it; the first packet of a compound
// counts the compound (RFC 1889 section 6.3.3).
void heard_rtcp(rtp_context_t *ctx, rtp_member_t *m, const rtcp_view &v, int32_t position) {
    m->last_rtcp = v.now;
    if (position == 0) {
        m->rtcp_packets++;
    }
    ctx->recent_rtcp_sender = m;
}

rtperror receive_report(rtp_context_t *ctx, const rtcp_view &v, const sockaddr_in *from,
                        int32_t position) {
    const bool sr = v.type == RTCP_SR;
    const int32_t blocks_at = sr ? sr_blocks_at : rr_blocks_at;
    if (v.bytes < blocks_at) {
        return RTPReportError(RTP_BAD_PACKET_FORMAT, caller,
                              "context %d, invalid RTCP packet format", ctx->number);
    }
    rtp_member_t *sender =
        RTPMemberFindOrCreate(ctx, rtp_host32(v.packet + 4), from, true, false, v.now);
    RTPMemberCountSSRC(ctx, sender);
    RTPMemberActivity(ctx, sender, false, v.now);
    if (sr) {
        sender->sr_ntp_sec = rtp_host32(v.packet + 8);
        sender->sr_ntp_frac = rtp_host32(v.packet + 12);
        sender->sr_rtp_timestamp = rtp_host32(v.packet + 16);
        sender->sr_packets = rtp_host32(v.packet + 20);
        sender->sr_octets = rtp_host32(v.packet + 24);
    }
    const int32_t reporter = sender->id;
    const int32_t blocks = std::min(v.count, (v.bytes - blocks_at) / block_size);
    for (int32_t i = 0; i < blocks; i++) {
        const char *b = v.packet + blocks_at + i * block_size;
        const uint32_t ssrc = rtp_host32(b);
        // A block is about someone else: it is heard of, but the reporter's address is not
        // its address.
        rtp_member_t *about = RTPMemberFindOrCreate(ctx, ssrc, nullptr, true, false, v.now);
        RTPMemberActivity(ctx, about, false, v.now);
        if (about->sender != RTP_SENDER_NONE && about->ssrc == ssrc) {
            const uint32_t loss = rtp_host32(b + 4);
            rtp_report_t report{};
            report.reporter = reporter;
            report.fraction_lost = static_cast<uint8_t>(loss & 0xFF);
            report.cumulative_lost = loss >> 8;
            report.highest_sequence = rtp_host32(b + 8);
            report.jitter = rtp_host32(b + 12);
            report.lsr = rtp_host32(b + 16);
            report.dlsr = rtp_host32(b + 20);
            about->reports[reporter] = report;
        }
    }
    // The sender may have gone through a merge or a deletion by now: look it up again.
    if (rtp_member_t *m = RTPMemberById(ctx, reporter)) {
        if (sr) {
            m->last_sr = v.now;
        }
        heard_rtcp(ctx, m, v, position);
    }
    return RTP_OK;
}

bool same_text(const std::string &stored, std::string_view item) {
    return stored.size() == item.size() &&
           strncasecmp(stored.data(), item.data(), item.size()) == 0;
}

// Has some member of m's collision chain this CNAME?
bool chain_has_cname(rtp_member_t *m, std::string_view cname) {
    while (m->collision_prev != nullptr) {
        m = m->collision_prev;
    }
    for (; m != nullptr; m = m->collision_next) {
        const auto &stored = m->sdes[RTP_SDES_CNAME - 1];
        if (stored && same_text(*stored, cname)) {
            return true;
        }
    }
    return false;
}

enum class item_result { go_on, stop_packet, looped };

item_result receive_item(rtp_context_t *ctx, rtp_member_t *&m, int item, std::string_view text,
                         bool first_chunk, const sockaddr_in *from, const timeval &now) {
    auto &slot = m->sdes[item - 1];
    if (m == ctx->own || m->contributor) {
        // The application alone describes these; from the network only a CNAME that differs
        // matters: it is someone else using the SSRC.
        if (item != RTP_SDES_CNAME || !slot || same_text(*slot, text)) {
            return item_result::go_on;
        }
    }
    if (item == RTP_SDES_CNAME) {
        if (!slot) {
            rtp_member_t *holder = RTPMemberByCNAME(ctx, text);
            if (holder == ctx->own) {
                return item_result::looped;
            }
            if (holder != nullptr && holder != m) {
                m = RTCPMergeMembers(ctx, m, holder);
            }
        }
        auto &cname = m->sdes[RTP_SDES_CNAME - 1];
        if (cname && !same_text(*cname, text)) {
            // Another participant with this SSRC (RFC 1889 section 8.2).
            if (chain_has_cname(m, text)) {
                return item_result::stop_packet;
            }
            m = RTCPResolveCollision(ctx, m, from, true, !first_chunk, now);
        }
        if (from != nullptr &&
            (!RTPAddressKnown(m->rtcp_address) || !RTPSameAddress(m->rtcp_address, *from))) {
            m->rtcp_address = *from;
            RTPRaiseNewAddress(ctx, m, true);
        }
    } else if (slot && !same_text(*slot, text)) {
        slot.reset();
    }
    auto &target = m->sdes[item - 1];
    if (target) {
        return item_result::go_on;
    }
    target.emplace(text);
    if (item == RTP_SDES_CNAME) {
        RTPCnameHashInsert(ctx, m);
        RTPMemberSetState(ctx, m,
                          first_chunk ? RTP_MEMBER_CONFIRMED : RTP_MEMBER_CONFIRMED_CONTRIBUTOR);
    }
    RTPRaiseSDESChange(ctx, m, item);
    return item_result::go_on;
}

rtperror receive_sdes(rtp_context_t *ctx, const rtcp_view &v, const sockaddr_in *from,
                      int32_t position) {
    const char *end = v.packet + v.bytes;
    const char *p = v.packet + 4;
    rtp_member_t *m = nullptr;
    // By id: a merge in a later chunk may fold the first chunk's record into another.
    int32_t first = -1;
    uint32_t previous = 0;
    for (int32_t chunk = 0; chunk < v.count && end - p >= 4; chunk++) {
        const uint32_t ssrc = rtp_load32(p);
        p += 4;
        if (m == nullptr || ssrc != previous) {
            m = RTPMemberFindOrCreate(ctx, ssrc, from, true, chunk != 0, v.now);
            chunk == 0 ? RTPMemberCountSSRC(ctx, m) : RTPMemberCountCSRC(ctx, m);
            previous = ssrc;
        }
        if (chunk == 0) {
            first = m->id;
        }
        // Items up to the zero type that ends the chunk; an item type this engine does not
        // know is stepped over (RFC 1889 section 6.4).
        while (p < end && *p != 0) {
            if (end - p < 2 || end - p - 2 < static_cast<uint8_t>(p[1])) {
                p = end;
                break;
            }
            const int item = static_cast<uint8_t>(p[0]);
            const std::size_t length = static_cast<uint8_t>(p[1]);
            // Text stops at a NUL inside the item, as every reader of the stored text would.
            std::string_view text(p + 2, strnlen(p + 2, length));
            p += 2 + length;
            if (item > RTP_SDES_MAX) {
                continue;
            }
            switch (receive_item(ctx, m, item, text, chunk == 0, from, v.now)) {
                case item_result::looped:
                    return RTPReportError(RTP_PACKET_LOOPBACK, caller,
                                          "context %d, got a foreign packet with our CNAME",
                                          ctx->number);
                case item_result::stop_packet:
                    return RTP_OK;
                case item_result::go_on:
                    break;
            }
            if (chunk == 0) {
                first = m->id;
            }
        }
        // The end byte and the zeros up to the next word, counted from the packet start.
        const std::ptrdiff_t at = p - v.packet + 1;
        p = v.packet + std::min<std::ptrdiff_t>((at + 3) & ~std::ptrdiff_t{3}, v.bytes);
    }
    if (rtp_member_t *sender = first >= 0 ? RTPMemberById(ctx, first) : nullptr) {
        heard_rtcp(ctx, sender, v, position);
    }
    return RTP_OK;
}

rtperror receive_bye(rtp_context_t *ctx, const rtcp_view &v, const sockaddr_in *from) {
    const int32_t listed = std::min(v.count, (v.bytes - 4) / 4);
    const int32_t reason_at = 4 + 4 * listed;
    std::size_t reason_length = 0;
    if (reason_at < v.bytes) {
        reason_length = std::min<std::size_t>(static_cast<uint8_t>(v.packet[reason_at]),
                                              v.bytes - reason_at - 1);
    }
    if (reason_length > 0) {
        std::memcpy(ctx->bye_reason.data(), v.packet + reason_at + 1, reason_length);
    }
    ctx->bye_reason[reason_length] = '\0';
    ctx->recent_rtcp_sender = nullptr;
    for (int32_t i = 0; i < listed; i++) {
        rtp_member_t *m =
            RTPMemberFindOrCreate(ctx, rtp_load32(v.packet + 4 + 4 * i), from, true, false, v.now);
        // Our own records never leave on someone else's word: a BYE naming our SSRC comes
        // from a participant that collided with us.
        if (m == ctx->own || m->contributor) {
            continue;
        }
        if (m->collision && m->sdes[RTP_SDES_CNAME - 1]) {
            continue;  // which of the participants sharing the SSRC left is unknown
        }
        RTPMemberSetSender(ctx, m, RTP_SENDER_NONE);
        RTPRaiseMemberEvent(ctx, m, RTP_EVENT_BYE, ctx->bye_reason.data());
        RTPMemberDelete(ctx, m);
    }
    return RTP_OK;
}

// APP and XR packets open with their sender's SSRC, which is all an APP packet tells. Of an XR
// (RFC 3611) the reporter's last VoIP metrics block is kept; other blocks are not read.
rtperror receive_app_or_xr(rtp_context_t *ctx, const rtcp_view &v, const sockaddr_in *from,
                           int32_t position) {
    if (v.bytes < 8) {
        return RTPReportError(RTP_BAD_PACKET_FORMAT, caller,
                              "context %d, invalid RTCP packet format", ctx->number);
    }
    rtp_member_t *m =
        RTPMemberFindOrCreate(ctx, rtp_load32(v.packet + 4), from, true, false, v.now);
    RTPMemberCountSSRC(ctx, m);
    uint32_t reporter = 0;
    rtp_voip_metrics_t metrics;
    if (v.type == RTCP_XR &&
        rtcp_read_xr_voip(reinterpret_cast<const uint8_t *>(v.packet),
                          static_cast<std::size_t>(v.bytes), &reporter, &metrics)) {
        m->voip_metrics = metrics;
    }
    heard_rtcp(ctx, m, v, position);
    return RTP_OK;
}

}  // namespace

rtperror UpdateMemberInfoByRTCP(rtp_context_t *ctx, char *packet, const sockaddr_in *from,
                                int32_t from_length, int32_t position) {
    if (from != nullptr &&
        (from_length < static_cast<int32_t>(sizeof(sockaddr_in)) || !RTPAddressKnown(*from))) {
        from = nullptr;
    }
    const rtcp_view v = view_of(packet, rtp_now());
    switch (v.type) {
        case RTCP_SR:
        case RTCP_RR:
            return receive_report(ctx, v, from, position);
        case RTCP_SDES:
            return receive_sdes(ctx, v, from, position);
        case RTCP_BYE:
            return receive_bye(ctx, v, from);
        case RTCP_APP:
        case RTCP_XR:
            return receive_app_or_xr(ctx, v, from, position);
        default:
            ctx->recent_rtcp_sender = nullptr;
            return RTPReportError(RTP_BAD_PACKET_FORMAT, caller,
                                  "context %d, invalid RTCP payload type for packet format",
                                  ctx->number);
    }
}

}  // namespace sipline
