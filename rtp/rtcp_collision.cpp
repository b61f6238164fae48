#include "rtp/rtcp_collision.h"

#include <algorithm>

#include "rtp/members_internal.h"
#include "rtp/rtcp_internal.h"

namespace sipline {

namespace {

constexpr char collision_reason[] = "Leaving to resolve a collision";

const timeval &later(const timeval &a, const timeval &b) {
    return rtp_time_reached(a, b) ? a : b;
}

// kept takes merged's place in the SSRC hash and in its collision chain.
void take_ssrc_place(rtp_context_t *ctx, rtp_member_t *kept, rtp_member_t *merged) {
    RTPChainUnlink(ctx, kept);
    auto own_entry = ctx->by_ssrc.find(kept->ssrc);
    if (own_entry != ctx->by_ssrc.end() && own_entry->second == kept) {
        ctx->by_ssrc.erase(own_entry);
    }
    kept->ssrc = merged->ssrc;
    kept->collision = merged->collision;
    kept->collision_prev = merged->collision_prev;
    kept->collision_next = merged->collision_next;
    if (kept->collision_prev != nullptr) {
        kept->collision_prev->collision_next = kept;
    }
    if (kept->collision_next != nullptr) {
        kept->collision_next->collision_prev = kept;
    }
    merged->collision = 0;
    merged->collision_prev = merged->collision_next = nullptr;
    auto entry = ctx->by_ssrc.find(kept->ssrc);
    if (entry == ctx->by_ssrc.end() || entry->second == merged) {
        ctx->by_ssrc.insert_or_assign(kept->ssrc, kept);
    }
}

void merge_stats(rtp_member_t *kept, rtp_member_t *merged) {
    if (!merged->stats) {
        return;
    }
    if (!kept->stats) {
        kept->stats = std::move(merged->stats);
        return;
    }
    rtp_stats_t &k = *kept->stats;
    const rtp_stats_t &m = *merged->stats;
    k.last_timestamp = std::max(k.last_timestamp, m.last_timestamp);
    k.last_arrival = later(k.last_arrival, m.last_arrival);
    k.before_report += m.before_report;
    k.highest_sequence = std::max(k.highest_sequence, m.highest_sequence);
}

}  // namespace

rtp_member_t *RTCPMergeMembers(rtp_context_t *ctx, rtp_member_t *a, rtp_member_t *b) {
    rtp_member_t *kept = a->id < b->id ? a : b;
    rtp_member_t *merged = kept == a ? b : a;
    kept->last_heard = later(kept->last_heard, merged->last_heard);
    kept->last_rtp = later(kept->last_rtp, merged->last_rtp);
    kept->last_rtcp = later(kept->last_rtcp, merged->last_rtcp);
    kept->last_sr = later(kept->last_sr, merged->last_sr);
    RTPMergeLogAdd(ctx, merged->id, kept->id);
    if (ctx->merge != nullptr) {
        const int32_t word = kept->user_data != 0 && merged->user_data != 0 ? merged->user_data : 0;
        ctx->merge(ctx->number, kept->id, merged->id, word, 0);
    } else {
        RTPRaiseMemberEvent(ctx, kept, RTP_EVENT_NEW_MEMBER, nullptr);
    }
    if (kept->user_data == 0) {
        kept->user_data = merged->user_data;
    }
    take_ssrc_place(ctx, kept, merged);

    RTPCnameHashRemove(ctx, kept);
    RTPCnameHashRemove(ctx, merged);
    for (int item = 1; item <= RTP_SDES_MAX; item++) {
        auto &from = merged->sdes[item - 1];
        auto &to = kept->sdes[item - 1];
        if (!from) {
            continue;
        }
        const bool differs = !to || *to != *from;
        to = std::move(from);
        if (differs) {
            RTPRaiseSDESChange(ctx, kept, item);
        }
    }
    RTPCnameHashInsert(ctx, kept);

    kept->sr_rtp_timestamp = std::max(kept->sr_rtp_timestamp, merged->sr_rtp_timestamp);
    if (std::pair(merged->sr_ntp_sec, merged->sr_ntp_frac) >
        std::pair(kept->sr_ntp_sec, kept->sr_ntp_frac)) {
        // The counts belong to the same report as the timestamp.
        kept->sr_ntp_sec = merged->sr_ntp_sec;
        kept->sr_ntp_frac = merged->sr_ntp_frac;
        kept->sr_packets = merged->sr_packets;
        kept->sr_octets = merged->sr_octets;
    }
    merge_stats(kept, merged);
    if (kept->sender != RTP_SENDER_NONE && merged->sender != RTP_SENDER_NONE) {
        kept->reports.merge(merged->reports);
    }
    kept->ssrc_heard += merged->ssrc_heard;
    kept->csrc_heard += merged->csrc_heard;
    kept->rtcp_packets += merged->rtcp_packets;
    if (RTPIsContributor(ctx, kept->ssrc)) {
        kept->contributor = 1;
    }
    if (ctx->recent_rtp_sender == merged) {
        ctx->recent_rtp_sender = kept;
    }
    if (ctx->recent_rtcp_sender == merged) {
        ctx->recent_rtcp_sender = kept;
    }
    RTPMemberDelete(ctx, merged);
    return kept;
}

rtp_member_t *RTCPResolveCollision(rtp_context_t *ctx, rtp_member_t *holder,
                                   const sockaddr_in *from, bool rtcp, bool contributor,
                                   const timeval &now) {
    const uint32_t ssrc = holder->ssrc;
    rtp_member_t *end = holder;
    while (end->collision_next != nullptr) {
        end = end->collision_next;
    }
    rtp_member_t *m =
        RTPMemberCreate(ctx, ssrc, from, rtcp,
                        contributor ? RTP_MEMBER_CONFIRMED_CONTRIBUTOR : RTP_MEMBER_CONFIRMED, now);
    RTPChainAppend(ctx, end, m);
    if (RTPIsContributor(ctx, ssrc) && ctx->collision != nullptr) {
        ctx->collision(ctx->number, holder->id, m->id, RTP_COLLISION_CONTRIBUTOR);
    }
    if (ssrc == ctx->ssrc) {
        if (ctx->collision != nullptr) {
            ctx->collision(ctx->number, holder->id, m->id, RTP_COLLISION_OWN);
        }
        // RFC 1889 section 8.2: say BYE with the old SSRC and carry on with a new one.
        RTCPSchedule(ctx, RTP_EVENT_KIND_COLLISION_BYE, ssrc, collision_reason, now);
        ctx->start_ssrc = ctx->own->ssrc;
        RTPChooseSSRC(ctx);
    }
    return m;
}

}  // namespace sipline
