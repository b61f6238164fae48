#include <algorithm>

#include "rtp/context_internal.h"
#include "rtp/members_internal.h"
#include "rtp/rtcp_internal.h"
#include "rtp/send.h"

namespace sipline {

rtp_member_t *RTPContributorMember(rtp_context_t *ctx, uint32_t ssrc) {
    rtp_member_t *m = RTPMemberBySSRC(ctx, ssrc);
    while (m != nullptr && m->collision_prev != nullptr) {
        m = m->collision_prev;
    }
    for (; m != nullptr; m = m->collision_next) {
        if (m->contributor && m != ctx->own) {
            return m;
        }
    }
    return nullptr;
}

bool RTPIsContributor(const rtp_context_t *ctx, uint32_t ssrc) {
    return std::find(ctx->contributors.begin(), ctx->contributors.end(), ssrc) !=
           ctx->contributors.end();
}

rtperror RTPSessionAddToContributorList(int32_t context, uint32_t ssrc) {
    constexpr const char *caller = "RTPSessionAddToContributorList";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    if (RTPIsContributor(ctx, ssrc)) {
        return RTPReportError(RTP_SSRC_IN_USE, caller, "context %d two CSRCS use SSRC %x", context,
                              ssrc);
    }
    ctx->contributors.push_front(ssrc);
    rtp_member_t *holder = RTPMemberBySSRC(ctx, ssrc);
    rtp_member_t *m = nullptr;
    const timeval now = rtp_now();
    if (holder != nullptr) {
        m = RTCPResolveCollision(ctx, holder, nullptr, false, true, now);
    } else {
        m = RTPMemberCreate(ctx, ssrc, nullptr, false, RTP_MEMBER_NEW_CONTRIBUTOR, now);
    }
    m->contributor = 1;
    return RTP_OK;
}

rtperror RTPSessionRemoveFromContributorList(int32_t context, uint32_t ssrc, const char *reason) {
    constexpr const char *caller = "RTPSessionRemoveFromContributorList";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    auto entry = std::find(ctx->contributors.begin(), ctx->contributors.end(), ssrc);
    if (entry == ctx->contributors.end()) {
        return RTPReportError(RTP_NO_SUCH_PERSON, caller, "Unknown SSRC");
    }
    auto csrc_end = ctx->csrc.begin() + ctx->csrc_count;
    if (ctx->csrc_list_set && std::find(ctx->csrc.begin(), csrc_end, ssrc) != csrc_end) {
        RTPSessionRemoveFromCSRCList(context, ssrc);
    }
    RTCPSchedule(ctx, RTP_EVENT_KIND_CONTRIBUTOR_BYE, ssrc, reason, rtp_now());
    rtp_member_t *m = RTPContributorMember(ctx, ssrc);
    ctx->contributors.erase(entry);
    if (m != nullptr) {
        RTPRaiseMemberEvent(ctx, m, RTP_EVENT_DELETED, nullptr);
        RTPMemberDelete(ctx, m);
    }
    return RTP_OK;
}

rtperror RTPSessionAddToCSRCList(int32_t context, uint32_t ssrc) {
    constexpr const char *caller = "RTPSessionAddToCSRCList";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    if (!RTPIsContributor(ctx, ssrc)) {
        return RTPReportError(RTP_NO_SUCH_CONTRIBUTOR, caller, "No such contributor %d\n",
                              static_cast<int>(ssrc));
    }
    if (!ctx->csrc_list_set) {
        ctx->csrc_list_set = true;
        ctx->csrc_count = 0;
    }
    if (ctx->csrc_count == RTP_MAX_CSRC) {
        return RTPReportError(RTP_CSRC_LIST_FULL, caller, "CSRC list full");
    }
    ctx->csrc[ctx->csrc_count++] = ssrc;
    return RTP_OK;
}

rtperror RTPSessionRemoveFromCSRCList(int32_t context, uint32_t ssrc) {
    constexpr const char *caller = "RTPSessionRemoveFromCSRCList";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    if (!ctx->csrc_list_set) {
        return RTPReportError(RTP_CSRC_LIST_NOT_SET, caller, "CSRC List not set\n");
    }
    auto end = ctx->csrc.begin() + ctx->csrc_count;
    auto found = std::find(ctx->csrc.begin(), end, ssrc);
    if (found == end) {
        return RTPReportError(RTP_NO_SUCH_PERSON, caller, "Unkown SSRC\n");
    }
    std::copy(found + 1, end, found);
    if (--ctx->csrc_count == 0) {
        ctx->csrc_list_set = false;
    }
    return RTP_OK;
}

rtperror RTPSessionGetCSRCList(int32_t context, uint32_t *list, int32_t *count) {
    constexpr const char *caller = "RTPSessionGetCSRCList";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    if (!ctx->csrc_list_set) {
        return RTPReportError(RTP_CSRC_LIST_NOT_SET, caller, "context %d CSRC List not Set",
                              context);
    }
    if (*count < ctx->csrc_count) {
        int32_t room = *count;
        *count = ctx->csrc_count;
        return RTPReportError(
            RTP_INSUFFICIENT_BUFFER, caller,
            "context %d buffer size of %d insufficient for CSRC list of length %d", context, room,
            ctx->csrc_count);
    }
    std::copy(ctx->csrc.begin(), ctx->csrc.begin() + ctx->csrc_count, list);
    *count = ctx->csrc_count;
    return RTP_OK;
}

rtperror RTPSessionGetUniqueIDForCSRC(int32_t context, uint32_t ssrc, int32_t *member) {
    constexpr const char *caller = "RTPSessionGetUniqueIDForCSRC";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    rtp_member_t *m = RTPIsContributor(ctx, ssrc) ? RTPContributorMember(ctx, ssrc) : nullptr;
    if (m == nullptr) {
        return RTPReportError(RTP_NO_SUCH_PERSON, caller, "context %d CSRC %x not on CSRC list",
                              context, ssrc);
    }
    *member = m->id;
    return RTP_OK;
}

}  // namespace sipline
