#include "rtp/members_internal.h"
#include "rtp/rtcp_internal.h"
#include "rtp/rtcp_interval.h"

namespace sipline {

namespace {

// Members whose information the application keeps never time out.
bool ours(const rtp_context_t *ctx, const rtp_member_t *m) {
    return m == ctx->own || m->contributor;
}

bool passed(const timeval &since, double seconds, const timeval &now) {
    return rtp_time_reached(now, rtp_time_add(since, seconds));
}

}  // namespace

// RFC 1889 section 6.3.5. Both lists are kept in order of time, so each step walks from the
// old end only as far as there is something to do; the cursors remember where the steps that
// leave members in place stopped, so a pass costs what it changes, not the size of the table.
void RTCPMemberTimeouts(rtp_context_t *ctx) {
    const timeval now = rtp_now();
    const double t_sender = RTCPInterval(ctx, true);
    const double t_member = RTCPInterval(ctx, false);

    // 1. Members quiet for 5 T leave the activity list and lose their statistics.
    while (rtp_member_t *m = ctx->active.oldest) {
        if (!passed(m->last_activity, 5 * t_sender, now)) {
            break;
        }
        RTPMemberSetSender(ctx, m, RTP_SENDER_NONE);
        if (ctx->active.oldest == m) {
            break;  // not on the list by its status: leave it rather than loop
        }
    }

    // 2. Senders quiet for T are senders no more.
    rtp_activity_list_t &active = ctx->active;
    for (rtp_member_t *m = active.sender_cursor ? active.sender_cursor->active_newer
                                                : active.oldest;
         m != nullptr && passed(m->last_activity, t_sender, now); m = m->active_newer) {
        if (m->sender == RTP_SENDER_SENDING) {
            RTPMemberSetSender(ctx, m, RTP_SENDER_ACTIVE);
        }
        active.sender_cursor = m;
    }

    // 3. Members not heard of for 15 T are deleted.
    for (rtp_member_t *m = ctx->members.oldest; m != nullptr;) {
        rtp_member_t *newer = m->heard_newer;
        if (!ours(ctx, m)) {
            if (!passed(m->last_heard, 15 * t_member, now)) {
                break;
            }
            RTPRaiseMemberEvent(ctx, m, RTP_EVENT_DELETED, nullptr);
            RTPMemberDelete(ctx, m);
        }
        m = newer;
    }

    // 4. After 5 T a confirmed member expires; one never confirmed is deleted.
    rtp_member_list_t &list = ctx->members;
    for (rtp_member_t *m = list.expiry_cursor ? list.expiry_cursor->heard_newer : list.oldest;
         m != nullptr && passed(m->last_heard, 5 * t_member, now);) {
        rtp_member_t *newer = m->heard_newer;
        if (!ours(ctx, m)) {
            if (m->state == RTP_MEMBER_CONFIRMED) {
                RTPMemberSetState(ctx, m, RTP_MEMBER_EXPIRED);
            } else if (m->state == RTP_MEMBER_CONFIRMED_CONTRIBUTOR) {
                RTPMemberSetState(ctx, m, RTP_MEMBER_EXPIRED_CONTRIBUTOR);
            } else if (m->state == RTP_MEMBER_NEW || m->state == RTP_MEMBER_NEW_CONTRIBUTOR) {
                RTPRaiseMemberEvent(ctx, m, RTP_EVENT_NEVER_CONFIRMED, nullptr);
                RTPMemberDelete(ctx, m);
                m = newer;
                continue;
            }
        }
        list.expiry_cursor = m;
        m = newer;
    }
}

}  // namespace sipline
