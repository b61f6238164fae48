#include "rtp/rtcp_build.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>

#include "rtp/members_internal.h"
#include "rtp/rtcp_wire.h"
#include "rtp/rtcp_xr.h"

namespace sipline {

namespace {

bool reportable(const rtp_member_t *m) {
    return m->sender == RTP_SENDER_SENDING && m->id != 0;
}

// The block about one sender; a block goes out only with the interval book-keeping of RFC 1889
// appendix A.3 advanced, and the copy of it is what RTPSenderInfoGetFirstReceiverReport shows.
rtcp_block_fields_t report_block(rtp_context_t *ctx, rtp_member_t *m) {
    rtcp_block_fields_t block{};
    block.ssrc = m->ssrc;
    if (!m->stats) {
        return block;
    }
    rtp_report_t report{};
    RTPReportBlock(ctx, m, true, &report);
    report.reporter = 0;
    if (m->sender != RTP_SENDER_NONE) {
        m->reports[0] = report;
    }
    block.fraction_lost = report.fraction_lost;
    block.cumulative_lost = report.cumulative_lost;
    block.highest_seq = report.highest_sequence;
    block.jitter = report.jitter;
    block.lsr = report.lsr;
    block.dlsr = report.dlsr;
    return block;
}

// SR or RR packets with up to 31 blocks each, as many as fit before end.
uint8_t *report_section(rtp_context_t *ctx, uint8_t *p, const uint8_t *end) {
    const bool sr = ctx->own->sender == RTP_SENDER_SENDING;
    const std::size_t fixed = sr ? RTCP_SR_FIXED_SIZE : RTCP_RR_FIXED_SIZE;
    rtp_member_t *next = ctx->active.newest;
    auto skip_to_reportable = [&] {
        while (next != nullptr && !reportable(next)) {
            next = next->active_older;
        }
    };
    skip_to_reportable();
    bool first = true;
    // A packet after the first is only worth its header when a block fits with it.
    while ((first || next != nullptr) &&
           static_cast<std::size_t>(end - p) >= fixed + (first ? 0 : RTCP_REPORT_BLOCK_SIZE)) {
        int blocks = 0;
        uint8_t *at = p + fixed;
        while (next != nullptr && blocks < RTCP_MAX_COUNT &&
               static_cast<std::size_t>(end - at) >= RTCP_REPORT_BLOCK_SIZE) {
            rtcp_put_report_block(at, report_block(ctx, next));
            at += RTCP_REPORT_BLOCK_SIZE;
            blocks++;
            next = next->active_older;
            skip_to_reportable();
        }
        if (sr) {
            timeval now = rtp_now();
            rtcp_sender_info_t info{};
            info.ssrc = ctx->ssrc;
            RTPNtpTime(now, &info.ntp_sec, &info.ntp_frac);
            info.rtp_timestamp = ctx->timestamp_base + ctx->timestamp_advance;
            info.packets = ctx->packets_sent;
            info.octets = ctx->octets_sent;
            rtcp_put_sr(p, info, blocks);
            ctx->own->last_sr = now;
        } else {
            rtcp_put_rr(p, ctx->ssrc, blocks);
        }
        p = at;
        first = false;
    }
    return p;
}

struct chunk_source {
    uint32_t ssrc;
    const char *items[RTCP_SDES_ITEMS];
};

chunk_source chunk_of(uint32_t ssrc, const rtp_member_t *m) {
    chunk_source c{ssrc, {}};
    for (int i = 0; m != nullptr && i < RTCP_SDES_ITEMS; i++) {
        c.items[i] = m->sdes[i] ? m->sdes[i]->c_str() : nullptr;
    }
    return c;
}

// The own chunk first, then the contributors', at most 31 chunks per SDES packet.
uint8_t *sdes_section(rtp_context_t *ctx, uint8_t *p, const uint8_t *end) {
    std::vector<chunk_source> chunks;
    chunks.push_back(chunk_of(ctx->ssrc, ctx->own));
    for (uint32_t ssrc : ctx->contributors) {
        if (rtp_member_t *m = RTPContributorMember(ctx, ssrc)) {
            chunks.push_back(chunk_of(ssrc, m));
        }
    }
    std::size_t i = 0;
    while (i < chunks.size()) {
        uint8_t *start = p;
        uint8_t *at = p + RTCP_HEADER_SIZE;
        int count = 0;
        for (; i < chunks.size() && count < RTCP_MAX_COUNT; i++) {
            std::size_t size = rtcp_sdes_chunk_size(chunks[i].items);
            if (size == 0) {
                continue;
            }
            if (at + size > end) {
                i = chunks.size();  // the chunks that do not fit are left out
                break;
            }
            rtcp_put_sdes_chunk(at, chunks[i].ssrc, chunks[i].items);
            at += size;
            count++;
        }
        if (count == 0) {
            break;
        }
        rtcp_put_header(start, count, RTCP_SDES, at - start);
        p = at;
    }
    return p;
}

std::size_t own_chunk_room(const rtp_context_t *ctx) {
    chunk_source own = chunk_of(ctx->ssrc, ctx->own);
    std::size_t size = rtcp_sdes_chunk_size(own.items);
    return size == 0 ? 0 : RTCP_HEADER_SIZE + size;
}

std::optional<rtp_voip_metrics_t> voip_metrics(rtp_context_t *ctx) {
    std::lock_guard lock(ctx->voip_mutex);
    return ctx->voip_metrics;
}

}  // namespace

std::size_t RTCPBuildReport(rtp_context_t *ctx, uint8_t *buf, std::size_t room) {
    const std::optional<rtp_voip_metrics_t> voip = voip_metrics(ctx);
    std::size_t reserve = std::min(own_chunk_room(ctx), room);
    uint8_t *p = report_section(ctx, buf, buf + room - reserve);
    p = sdes_section(ctx, p, buf + room);
    // The extended report gives way to the rest.
    if (voip && static_cast<std::size_t>(buf + room - p) >= rtcp_xr_voip_size()) {
        p += rtcp_put_xr_voip(p, ctx->ssrc, *voip);
    }
    return p - buf;
}

std::size_t RTCPBuildBye(rtp_context_t *ctx, uint8_t *buf, std::size_t room, bool all,
                         uint32_t ssrc, const char *reason) {
    std::vector<uint32_t> ssrcs;
    if (all) {
        ssrcs.push_back(ctx->ssrc);
        ssrcs.insert(ssrcs.end(), ctx->contributors.begin(), ctx->contributors.end());
    } else {
        ssrcs.push_back(ssrc);
    }
    std::size_t bye_room = 0;
    for (std::size_t i = 0; i < ssrcs.size(); i += RTCP_MAX_COUNT) {
        int count = static_cast<int>(std::min<std::size_t>(RTCP_MAX_COUNT, ssrcs.size() - i));
        bye_room += rtcp_bye_size(count, reason);
    }
    if (bye_room > room) {
        return 0;
    }
    // The farewell carries the final figures too (before the BYE, which ends the compound),
    // where they fit beside the BYE.
    const std::optional<rtp_voip_metrics_t> voip = voip_metrics(ctx);
    const std::size_t xr = voip && room - bye_room >= rtcp_xr_voip_size() + RTCP_RR_FIXED_SIZE
                               ? rtcp_xr_voip_size()
                               : 0;
    uint8_t *p = report_section(ctx, buf, buf + room - bye_room - xr);
    if (xr > 0) {
        p += rtcp_put_xr_voip(p, ctx->ssrc, *voip);
    }
    for (std::size_t i = 0; i < ssrcs.size(); i += RTCP_MAX_COUNT) {
        int count = static_cast<int>(std::min<std::size_t>(RTCP_MAX_COUNT, ssrcs.size() - i));
        p += rtcp_put_bye(p, ssrcs.data() + i, count, reason);
    }
    return p - buf;
}

}  // namespace sipline
