#include <algorithm>

#include "rtp/context_internal.h"
#include "rtp/members_internal.h"

namespace sipline {

namespace {

// The member list and the activity list differ only in the links, flag and cursor they use.
struct list_links {
    rtp_member_t *rtp_member_t::*newer;
    rtp_member_t *rtp_member_t::*older;
    bool rtp_member_t::*listed;
};

constexpr list_links heard_links{&rtp_member_t::heard_newer, &rtp_member_t::heard_older,
                                 &rtp_member_t::listed};
constexpr list_links active_links{&rtp_member_t::active_newer, &rtp_member_t::active_older,
                                  &rtp_member_t::active_listed};

// A cursor on the member moves to the next older one.
template <typename List>
void list_unlink(List &list, rtp_member_t *&cursor, const list_links &links, rtp_member_t *m) {
    if (cursor == m) {
        cursor = m->*links.older;
    }
    rtp_member_t *newer = m->*links.newer;
    rtp_member_t *older = m->*links.older;
    (newer ? newer->*links.older : list.newest) = older;
    (older ? older->*links.newer : list.oldest) = newer;
    m->*links.newer = m->*links.older = nullptr;
    m->*links.listed = false;
    --list.count;
}

template <typename List>
void list_push_front(List &list, const list_links &links, rtp_member_t *m) {
    m->*links.older = list.newest;
    m->*links.newer = nullptr;
    (list.newest ? list.newest->*links.newer : list.oldest) = m;
    list.newest = m;
    m->*links.listed = true;
    ++list.count;
}

void heard_unlink(rtp_context_t *ctx, rtp_member_t *m) {
    list_unlink(ctx->members, ctx->members.expiry_cursor, heard_links, m);
}

void heard_push_front(rtp_context_t *ctx, rtp_member_t *m) {
    list_push_front(ctx->members, heard_links, m);
}

void active_unlink(rtp_context_t *ctx, rtp_member_t *m) {
    list_unlink(ctx->active, ctx->active.sender_cursor, active_links, m);
}

void active_push_front(rtp_context_t *ctx, rtp_member_t *m) {
    list_push_front(ctx->active, active_links, m);
}

bool is_expired(int32_t state) {
    return state == RTP_MEMBER_EXPIRED || state == RTP_MEMBER_EXPIRED_CONTRIBUTOR;
}
bool is_new(int32_t state) {
    return state == RTP_MEMBER_NEW || state == RTP_MEMBER_NEW_CONTRIBUTOR;
}

sockaddr_in &address_of(rtp_member_t *m, bool rtcp) {
    return rtcp ? m->rtcp_address : m->rtp_address;
}

}  // namespace

bool RTPSameAddress(const sockaddr_in &a, const sockaddr_in &b) {
    // RTP and RTCP of one participant arrive from an even port and the odd one above it.
    return a.sin_family == b.sin_family && a.sin_addr.s_addr == b.sin_addr.s_addr &&
           (ntohs(a.sin_port) & ~1) == (ntohs(b.sin_port) & ~1);
}

bool RTPAddressKnown(const sockaddr_in &address) {
    return address.sin_family != RTP_FAMILY_UNKNOWN;
}

bool RTPIsConfirmed(const rtp_member_t *member) {
    return member->state == RTP_MEMBER_CONFIRMED ||
           member->state == RTP_MEMBER_CONFIRMED_CONTRIBUTOR;
}

void RTPRaiseMemberEvent(rtp_context_t *ctx, rtp_member_t *member, int32_t event,
                         const char *extra) {
    if (ctx->member_event != nullptr) {
        ctx->member_event(ctx->number, member->id, event, extra);
    }
}

void RTPRaiseNewAddress(rtp_context_t *ctx, rtp_member_t *member, bool rtcp) {
    if (ctx->new_address != nullptr) {
        ctx->new_address(ctx->number, member->id, &address_of(member, rtcp), rtcp ? 1 : 0);
    }
}

void RTPRaiseSDESChange(rtp_context_t *ctx, rtp_member_t *member, int32_t item) {
    if (ctx->sdes_change == nullptr) {
        return;
    }
    const auto &text = member->sdes[item - 1];
    ctx->sdes_change(ctx->number, member->id, item, text ? text->c_str() : "", RTP_SDES_CHANGED);
}

void RTPMembersInit(rtp_context_t *ctx) {
    ctx->own = RTPMemberCreate(ctx, 0, nullptr, false, RTP_MEMBER_CONFIRMED, rtp_now());
    // Our SSRC is chosen when we first send. Until then the own member holds no SSRC in the
    // hash: a peer using SSRC 0 is a participant of its own, not a collision with us.
    ctx->by_ssrc.erase(0);
}

void RTPMembersClear(rtp_context_t *ctx) {
    ctx->own = nullptr;
    ctx->recent_rtp_sender = nullptr;
    ctx->recent_rtcp_sender = nullptr;
    ctx->members = {};
    ctx->active = {};
    ctx->by_ssrc.clear();
    ctx->by_cname.clear();
    ctx->merge_log.clear();
    ctx->by_id.clear();
}

rtp_member_t *RTPMemberCreate(rtp_context_t *ctx, uint32_t ssrc, const sockaddr_in *address,
                              bool rtcp, int32_t state, const timeval &now) {
    auto owned = std::make_unique<rtp_member_t>();
    rtp_member_t *m = owned.get();
    m->id = ctx->next_member_id++;
    m->ssrc = ssrc;
    m->rtp_address.sin_family = RTP_FAMILY_UNKNOWN;
    m->rtcp_address.sin_family = RTP_FAMILY_UNKNOWN;
    if (address != nullptr) {
        address_of(m, rtcp) = *address;
    }
    m->last_heard = m->last_activity = now;
    m->state = state;
    if (state == RTP_MEMBER_CONFIRMED) {
        ++ctx->members.confirmed;
    }
    heard_push_front(ctx, m);
    ctx->by_ssrc.try_emplace(ssrc, m);
    ctx->by_id.emplace(m->id, std::move(owned));
    RTPRaiseMemberEvent(ctx, m, RTP_EVENT_NEW_MEMBER, nullptr);
    if (address != nullptr && m->id != 0) {
        RTPRaiseNewAddress(ctx, m, rtcp);
    }
    return m;
}

rtp_member_t *RTPMemberBySSRC(rtp_context_t *ctx, uint32_t ssrc) {
    auto found = ctx->by_ssrc.find(ssrc);
    return found == ctx->by_ssrc.end() ? nullptr : found->second;
}

rtp_member_t *RTPMemberById(rtp_context_t *ctx, int32_t id) {
    // A merged record's id leads to the kept one, through as many merges as it took part in.
    // Ids only ever map to lower ids, so the walk ends.
    for (bool moved = true; moved && !ctx->merge_log.empty();) {
        moved = false;
        for (auto entry = ctx->merge_log.rbegin(); entry != ctx->merge_log.rend(); ++entry) {
            if (entry->first == id && entry->second != id) {
                id = entry->second;
                moved = true;
                break;
            }
        }
    }
    auto found = ctx->by_id.find(id);
    return found == ctx->by_id.end() ? nullptr : found->second.get();
}

rtp_member_t *RTPMemberByCNAME(rtp_context_t *ctx, std::string_view cname) {
    auto found = ctx->by_cname.find(cname);
    return found == ctx->by_cname.end() ? nullptr : found->second;
}

void RTPCnameHashInsert(rtp_context_t *ctx, rtp_member_t *member) {
    const auto &cname = member->sdes[RTP_SDES_CNAME - 1];
    if (cname) {
        ctx->by_cname.insert_or_assign(*cname, member);
    }
}

void RTPCnameHashRemove(rtp_context_t *ctx, rtp_member_t *member) {
    const auto &cname = member->sdes[RTP_SDES_CNAME - 1];
    if (!cname) {
        return;
    }
    auto found = ctx->by_cname.find(*cname);
    if (found != ctx->by_cname.end() && found->second == member) {
        ctx->by_cname.erase(found);
    }
}

void RTPMergeLogAdd(rtp_context_t *ctx, int32_t merged, int32_t kept) {
    if (ctx->merge_log.size() >= RTP_MERGE_LOG_MAX) {
        ctx->merge_log.erase(ctx->merge_log.begin(), ctx->merge_log.end() - RTP_MERGE_LOG_MAX / 2);
    }
    ctx->merge_log.emplace_back(merged, kept);
}

void RTPMemberHeard(rtp_context_t *ctx, rtp_member_t *member, const timeval &now) {
    member->last_heard = now;
    if (ctx->members.newest == member) {
        return;
    }
    if (member->listed) {
        heard_unlink(ctx, member);
    }
    heard_push_front(ctx, member);
}

rtp_member_t *RTPMemberFindOrCreate(rtp_context_t *ctx, uint32_t ssrc, const sockaddr_in *address,
                                    bool rtcp, bool as_csrc, const timeval &now) {
    return RTPMemberFoundOrCreate(ctx, RTPMemberBySSRC(ctx, ssrc), ssrc, address, rtcp, as_csrc,
                                  now);
}

rtp_member_t *RTPMemberFoundOrCreate(rtp_context_t *ctx, rtp_member_t *found, uint32_t ssrc,
                                     const sockaddr_in *address, bool rtcp, bool as_csrc,
                                     const timeval &now) {
    rtp_member_t *m = found;
    if (m == nullptr) {
        return RTPMemberCreate(ctx, ssrc, address, rtcp,
                               as_csrc ? RTP_MEMBER_NEW_CONTRIBUTOR : RTP_MEMBER_NEW, now);
    }
    if (address != nullptr) {
        while (RTPAddressKnown(address_of(m, rtcp)) &&
               !RTPSameAddress(address_of(m, rtcp), *address) && m->collision_next != nullptr) {
            m = m->collision_next;
        }
        if (!RTPAddressKnown(address_of(m, rtcp))) {
            address_of(m, rtcp) = *address;
            RTPRaiseNewAddress(ctx, m, rtcp);
        }
    }
    RTPMemberHeard(ctx, m, now);
    return m;
}

void RTPMemberSetState(rtp_context_t *ctx, rtp_member_t *member, int32_t state) {
    int32_t old = member->state;
    if (old == state) {
        return;
    }
    if (old == RTP_MEMBER_CONFIRMED) {
        --ctx->members.confirmed;
    }
    if (state == RTP_MEMBER_CONFIRMED) {
        ++ctx->members.confirmed;
    }
    member->state = state;
    if (!member->listed) {
        return;
    }
    if (is_expired(state) && !is_expired(old)) {
        RTPRaiseMemberEvent(ctx, member, RTP_EVENT_EXPIRED, nullptr);
    } else if (is_expired(old)) {
        RTPRaiseMemberEvent(ctx, member, RTP_EVENT_RECONFIRMED, nullptr);
    } else if (is_new(old) && RTPIsConfirmed(member)) {
        RTPRaiseMemberEvent(ctx, member, RTP_EVENT_CONFIRMED, nullptr);
    }
}

void RTPMemberCountSSRC(rtp_context_t *ctx, rtp_member_t *member) {
    ++member->ssrc_heard;
    if ((member->state == RTP_MEMBER_NEW && member->ssrc_heard > 1) ||
        member->state == RTP_MEMBER_EXPIRED) {
        RTPMemberSetState(ctx, member, RTP_MEMBER_CONFIRMED);
    }
}

void RTPMemberCountCSRC(rtp_context_t *ctx, rtp_member_t *member) {
    ++member->csrc_heard;
    if ((member->state == RTP_MEMBER_NEW_CONTRIBUTOR && member->csrc_heard > 1) ||
        member->state == RTP_MEMBER_EXPIRED_CONTRIBUTOR) {
        RTPMemberSetState(ctx, member, RTP_MEMBER_CONFIRMED_CONTRIBUTOR);
    }
}

void RTPMemberSetSender(rtp_context_t *ctx, rtp_member_t *member, int32_t status) {
    int32_t old = member->sender;
    if (old == status) {
        return;
    }
    if (old == RTP_SENDER_SENDING) {
        --ctx->active.senders;
    }
    if (status == RTP_SENDER_SENDING) {
        ++ctx->active.senders;
    }
    member->sender = status;
    if (status == RTP_SENDER_NONE) {
        if (member->active_listed) {
            active_unlink(ctx, member);
        }
        member->reports.clear();
        member->stats.reset();
        RTPRaiseMemberEvent(ctx, member, RTP_EVENT_INACTIVE, nullptr);
        return;
    }
    if (old == RTP_SENDER_NONE) {
        member->last_activity = rtp_now();
        active_push_front(ctx, member);
        RTPRaiseMemberEvent(ctx, member, RTP_EVENT_ACTIVE, nullptr);
    }
    if (status == RTP_SENDER_SENDING) {
        RTPRaiseMemberEvent(ctx, member, RTP_EVENT_NEW_SENDER, nullptr);
    } else if (old == RTP_SENDER_SENDING) {
        RTPRaiseMemberEvent(ctx, member, RTP_EVENT_SENDER_TO_ACTIVE, nullptr);
    }
}

void RTPMemberActivity(rtp_context_t *ctx, rtp_member_t *member, bool sender, const timeval &now) {
    int32_t old = member->sender;
    if (old == RTP_SENDER_ACTIVE && !sender) {
        return;
    }
    // A member that sends a stream is the newest on the activity list packet after packet:
    // unlinking and pushing it back would only move the cursor off it, which is done here.
    bool newest = member->active_listed && ctx->active.newest == member;
    if (newest) {
        if (ctx->active.sender_cursor == member) {
            ctx->active.sender_cursor = member->active_older;
        }
    } else if (member->active_listed) {
        active_unlink(ctx, member);
    }
    int32_t status = RTP_SENDER_ACTIVE;
    if (old == RTP_SENDER_SENDING || (sender && RTPIsConfirmed(member))) {
        status = RTP_SENDER_SENDING;
    }
    if (sender) {
        member->last_rtp = now;
    }
    member->last_activity = now;
    if (!newest) {
        active_push_front(ctx, member);
    }
    member->sender = status;
    if (status == RTP_SENDER_SENDING && old != RTP_SENDER_SENDING) {
        ++ctx->active.senders;
    }
    if (old == RTP_SENDER_NONE) {
        RTPRaiseMemberEvent(ctx, member, RTP_EVENT_ACTIVE, nullptr);
    }
    if (status == RTP_SENDER_SENDING && old != RTP_SENDER_SENDING) {
        RTPRaiseMemberEvent(ctx, member, RTP_EVENT_NEW_SENDER, nullptr);
    }
}

void RTPChainAppend(rtp_context_t *ctx, rtp_member_t *holder, rtp_member_t *member) {
    rtp_member_t *end = holder;
    while (end->collision_next != nullptr) {
        end = end->collision_next;
    }
    end->collision = 1;
    member->collision = 1;
    end->collision_next = member;
    member->collision_prev = end;
    auto found = ctx->by_ssrc.find(member->ssrc);
    if (found != ctx->by_ssrc.end() && found->second == member) {
        ctx->by_ssrc.erase(found);
    }
}

void RTPChainUnlink(rtp_context_t *ctx, rtp_member_t *member) {
    if (!member->collision) {
        return;
    }
    rtp_member_t *prev = member->collision_prev;
    rtp_member_t *next = member->collision_next;
    if (prev != nullptr) {
        prev->collision_next = next;
    }
    if (next != nullptr) {
        next->collision_prev = prev;
    }
    member->collision_prev = member->collision_next = nullptr;
    member->collision = 0;

    rtp_member_t *head = prev != nullptr ? prev : next;
    if (head == nullptr) {
        return;
    }
    while (head->collision_prev != nullptr) {
        head = head->collision_prev;
    }
    auto found = ctx->by_ssrc.find(member->ssrc);
    if (found == ctx->by_ssrc.end() || found->second == member) {
        ctx->by_ssrc.insert_or_assign(member->ssrc, head);
    }
    if (head->collision_next == nullptr) {
        head->collision = 0;
    }
}

void RTPMemberChangeSSRC(rtp_context_t *ctx, rtp_member_t *member, uint32_t ssrc) {
    RTPChainUnlink(ctx, member);
    auto found = ctx->by_ssrc.find(member->ssrc);
    if (found != ctx->by_ssrc.end() && found->second == member) {
        ctx->by_ssrc.erase(found);
    }
    member->ssrc = ssrc;
    ctx->by_ssrc.insert_or_assign(ssrc, member);
}

void RTPMemberDelete(rtp_context_t *ctx, rtp_member_t *member) {
    if (member == ctx->own) {
        return;
    }
    if (member->active_listed || member->sender != RTP_SENDER_NONE) {
        RTPMemberSetSender(ctx, member, RTP_SENDER_NONE);
    }
    if (member->listed) {
        heard_unlink(ctx, member);
    }
    if (member->state == RTP_MEMBER_CONFIRMED) {
        --ctx->members.confirmed;
    }
    RTPChainUnlink(ctx, member);
    auto found = ctx->by_ssrc.find(member->ssrc);
    if (found != ctx->by_ssrc.end() && found->second == member) {
        ctx->by_ssrc.erase(found);
    }
    RTPCnameHashRemove(ctx, member);
    for (rtp_member_t *a = ctx->active.newest; a != nullptr; a = a->active_older) {
        a->reports.erase(member->id);
    }
    if (ctx->recent_rtp_sender == member) {
        ctx->recent_rtp_sender = nullptr;
    }
    if (ctx->recent_rtcp_sender == member) {
        ctx->recent_rtcp_sender = nullptr;
    }
    ctx->by_id.erase(member->id);
}

}  // namespace sipline
