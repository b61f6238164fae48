#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "rtp/context_internal.h"
#include "rtp/members.h"
#include "rtp/members_internal.h"

namespace sipline {

rtp_member_t *RTPMemberFind(int32_t context, int32_t id, const char *caller, rtperror *error,
                            rtp_context_t **context_record) {
    rtp_context_t *ctx = RTPContextFind(context, caller, error);
    if (ctx == nullptr) {
        return nullptr;
    }
    if (context_record != nullptr) {
        *context_record = ctx;
    }
    rtp_member_t *m = RTPMemberById(ctx, id);
    if (m == nullptr) {
        *error = RTPReportError(RTP_NO_SUCH_PERSON, caller, "context %d person %ld does not exist",
                                context, static_cast<long>(id));
    }
    return m;
}

namespace {

thread_local char address_text[INET_ADDRSTRLEN];
thread_local char port_text[8];

// Only the own member and contributors carry information the application may set.
bool may_change(const rtp_member_t *m) {
    return m->id == 0 || m->contributor;
}

rtperror protected_info(int32_t context, int32_t id, const char *caller) {
    return RTPReportError(RTP_PERSON_DATA_PROTECTED, caller,
                          "context %d cannot change person %ld member info", context,
                          static_cast<long>(id));
}

template <typename Field>
rtperror set_info(int32_t context, int32_t id, const char *caller, Field rtp_member_t::*field,
                  Field value) {
    rtperror error = RTP_OK;
    rtp_member_t *m = RTPMemberFind(context, id, caller, &error);
    if (m == nullptr) {
        return error;
    }
    if (!may_change(m)) {
        return protected_info(context, id, caller);
    }
    m->*field = value;
    return RTP_OK;
}

template <typename Field>
rtperror get_info(int32_t context, int32_t id, const char *caller, Field rtp_member_t::*field,
                  Field *value) {
    rtperror error = RTP_OK;
    rtp_member_t *m = RTPMemberFind(context, id, caller, &error);
    if (m == nullptr) {
        return error;
    }
    *value = m->*field;
    return RTP_OK;
}

rtperror address_text_of(int32_t context, int32_t id, const char *caller,
                         sockaddr_in rtp_member_t::*field, const char **address,
                         const char **port) {
    sockaddr_in value{};
    rtperror error = get_info(context, id, caller, field, &value);
    if (error != RTP_OK) {
        return error;
    }
    inet_ntop(AF_INET, &value.sin_addr, address_text, sizeof address_text);
    std::snprintf(port_text, sizeof port_text, "%hu", ntohs(value.sin_port));
    *address = address_text;
    *port = port_text;
    return RTP_OK;
}

bool valid_item(int32_t item) {
    return item >= 1 && item <= RTP_SDES_MAX;
}

}  // namespace

rtperror RTPMemberInfoSetSDES(int32_t context, int32_t member, int32_t item, const char *text) {
    constexpr const char *caller = "RTPMemberInfoSetSDES";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = nullptr;
    rtp_member_t *m = RTPMemberFind(context, member, caller, &error, &ctx);
    if (m == nullptr) {
        return error;
    }
    if (!valid_item(item)) {
        return RTPReportError(RTP_NO_SUCH_SDES, caller, "context %d no SDES field number %d",
                              context, item);
    }
    if (!may_change(m)) {
        return RTPReportError(RTP_PERSON_DATA_PROTECTED, caller,
                              "context %d cannot change person %ld SDES info", context,
                              static_cast<long>(member));
    }
    if (item == RTP_SDES_CNAME) {
        RTPCnameHashRemove(ctx, m);
    }
    if (text == nullptr) {
        m->sdes[item - 1].reset();
    } else {
        m->sdes[item - 1] = std::string(text);
    }
    if (item == RTP_SDES_CNAME) {
        RTPCnameHashInsert(ctx, m);
    }
    return RTP_OK;
}

rtperror RTPMemberInfoGetSDES(int32_t context, int32_t member, int32_t item, const char **text) {
    constexpr const char *caller = "RTPMemberInfoGetSDES";
    rtperror error = RTP_OK;
    rtp_member_t *m = RTPMemberFind(context, member, caller, &error);
    if (m == nullptr) {
        return error;
    }
    if (!valid_item(item)) {
        return RTPReportError(RTP_NO_SUCH_SDES, caller, "context %d no SDES field number %d",
                              context, item);
    }
    const auto &value = m->sdes[item - 1];
    *text = value ? value->c_str() : "";
    return RTP_OK;
}

rtperror RTPFindMember(int32_t context, int32_t item, const char *text, int32_t *member) {
    constexpr const char *caller = "RTPFindMember";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    if (!valid_item(item)) {
        return RTPReportError(RTP_NO_SUCH_SDES, caller, "context %d no SDES field number %d",
                              context, item);
    }
    for (rtp_member_t *m = ctx->members.oldest; m != nullptr; m = m->heard_newer) {
        const auto &value = m->sdes[item - 1];
        if (value && text != nullptr && *value == text) {
            *member = m->id;
            return RTP_OK;
        }
    }
    return RTPReportError(RTP_NO_SUCH_PERSON, caller,
                          "context %d no person with SDES field %d of %s", context, item,
                          text != nullptr ? text : "");
}

rtperror RTPMemberInfoSetNTP(int32_t context, int32_t member, uint32_t seconds, uint32_t fraction) {
    constexpr const char *caller = "RTPMemberInfoSetNTP";
    rtperror error = RTP_OK;
    rtp_member_t *m = RTPMemberFind(context, member, caller, &error);
    if (m == nullptr) {
        return error;
    }
    if (!may_change(m)) {
        return protected_info(context, member, caller);
    }
    m->sr_ntp_sec = seconds;
    m->sr_ntp_frac = fraction;
    return RTP_OK;
}

rtperror RTPMemberInfoGetNTP(int32_t context, int32_t member, uint32_t *seconds,
                             uint32_t *fraction) {
    rtperror error = RTP_OK;
    rtp_member_t *m = RTPMemberFind(context, member, "RTPMemberInfoGetNTP", &error);
    if (m == nullptr) {
        return error;
    }
    *seconds = m->sr_ntp_sec;
    *fraction = m->sr_ntp_frac;
    return RTP_OK;
}

rtperror RTPMemberInfoSetRTP(int32_t context, int32_t member, uint32_t timestamp) {
    return set_info(context, member, "RTPMemberInfoSetRTP", &rtp_member_t::sr_rtp_timestamp,
                    timestamp);
}
rtperror RTPMemberInfoGetRTP(int32_t context, int32_t member, uint32_t *timestamp) {
    return get_info(context, member, "RTPMemberInfoGetRTP", &rtp_member_t::sr_rtp_timestamp,
                    timestamp);
}
rtperror RTPMemberInfoSetPktCount(int32_t context, int32_t member, uint32_t count) {
    return set_info(context, member, "RTPMemberInfoSetPktCount", &rtp_member_t::sr_packets, count);
}
rtperror RTPMemberInfoGetPktCount(int32_t context, int32_t member, uint32_t *count) {
    return get_info(context, member, "RTPMemberInfoGetPktCount", &rtp_member_t::sr_packets, count);
}
rtperror RTPMemberInfoSetOctCount(int32_t context, int32_t member, uint32_t count) {
    return set_info(context, member, "RTPMemberInfoSetOctCount", &rtp_member_t::sr_octets, count);
}
rtperror RTPMemberInfoGetOctCount(int32_t context, int32_t member, uint32_t *count) {
    return get_info(context, member, "RTPMemberInfoGetOctCount", &rtp_member_t::sr_octets, count);
}
rtperror RTPMemberInfoSetRTCPPktCount(int32_t context, int32_t member, uint32_t count) {
    return set_info(context, member, "RTPMemberInfoSetRTCPPktCount", &rtp_member_t::rtcp_packets,
                    count);
}
rtperror RTPMemberInfoGetRTCPPktCount(int32_t context, int32_t member, uint32_t *count) {
    return get_info(context, member, "RTPMemberInfoGetRTCPPktCount", &rtp_member_t::rtcp_packets,
                    count);
}
rtperror RTPMemberInfoSetUserData(int32_t context, int32_t member, int32_t value) {
    // The application's own word: any member may carry it.
    rtperror error = RTP_OK;
    rtp_member_t *m = RTPMemberFind(context, member, "RTPMemberInfoSetUserData", &error);
    if (m == nullptr) {
        return error;
    }
    m->user_data = value;
    return RTP_OK;
}
rtperror RTPMemberInfoGetUserData(int32_t context, int32_t member, int32_t *value) {
    return get_info(context, member, "RTPMemberInfoGetUserData", &rtp_member_t::user_data, value);
}
rtperror RTPMemberInfoGetSSRC(int32_t context, int32_t member, uint32_t *ssrc) {
    return get_info(context, member, "RTPMemberInfoGetSSRC", &rtp_member_t::ssrc, ssrc);
}
rtperror RTPMemberInfoGetStatus(int32_t context, int32_t member, int32_t *state, int32_t *sender) {
    rtperror error = RTP_OK;
    rtp_member_t *m = RTPMemberFind(context, member, "RTPMemberInfoGetStatus", &error);
    if (m == nullptr) {
        return error;
    }
    *state = m->state;
    *sender = m->sender;
    return RTP_OK;
}
rtperror RTPMemberInfoGetLastRTPTime(int32_t context, int32_t member, timeval *time) {
    return get_info(context, member, "RTPMemberInfoGetLastRTPTime", &rtp_member_t::last_rtp, time);
}
rtperror RTPMemberInfoGetLastRTCPTime(int32_t context, int32_t member, timeval *time) {
    return get_info(context, member, "RTPMemberInfoGetLastRTCPTime", &rtp_member_t::last_rtcp,
                    time);
}
rtperror RTPMemberInfoGetRTPAddr(int32_t context, int32_t member, sockaddr_in *address) {
    return get_info(context, member, "RTPMemberInfoGetRTPAddr", &rtp_member_t::rtp_address,
                    address);
}
rtperror RTPMemberInfoGetRTCPAddr(int32_t context, int32_t member, sockaddr_in *address) {
    return get_info(context, member, "RTPMemberInfoGetRTCPAddr", &rtp_member_t::rtcp_address,
                    address);
}
rtperror RTPMemberInfoGetRTPAddrText(int32_t context, int32_t member, const char **address,
                                     const char **port) {
    return address_text_of(context, member, "RTPMemberInfoGetRTPAddrText",
                           &rtp_member_t::rtp_address, address, port);
}
rtperror RTPMemberInfoGetRTCPAddrText(int32_t context, int32_t member, const char **address,
                                      const char **port) {
    return address_text_of(context, member, "RTPMemberInfoGetRTCPAddrText",
                           &rtp_member_t::rtcp_address, address, port);
}

namespace {

rtperror end_of_list(int32_t context, const char *caller) {
    return RTPReportError(RTP_END_OF_LIST, caller, "context %d end of list", context);
}

// The member the iterator stands on, or null after reporting the end of the list (the member
// is gone) or an unknown context.
const rtp_member_t *iterator_member(int32_t context, const rtp_member_iterator_t *iterator,
                                    const char *caller, rtperror *error) {
    rtp_context_t *ctx = RTPContextFind(context, caller, error);
    if (ctx == nullptr) {
        return nullptr;
    }
    auto found = ctx->by_id.find(iterator->member);
    if (found == ctx->by_id.end()) {
        *error = end_of_list(context, caller);
        return nullptr;
    }
    return found->second.get();
}

}  // namespace

rtperror RTPFirstMember(int32_t context, rtp_member_iterator_t *iterator, int32_t *member) {
    constexpr const char *caller = "RTPFirstMember";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    iterator->direction = 0;
    iterator->member = -1;
    if (ctx->members.oldest == nullptr) {
        return end_of_list(context, caller);
    }
    iterator->member = *member = ctx->members.oldest->id;
    return RTP_OK;
}

rtperror RTPCurrentMember(int32_t context, rtp_member_iterator_t *iterator, int32_t *member) {
    rtperror error = RTP_OK;
    if (iterator_member(context, iterator, "RTPCurrentMember", &error) == nullptr) {
        return error;
    }
    *member = iterator->member;
    return RTP_OK;
}

rtperror RTPNextMember(int32_t context, rtp_member_iterator_t *iterator, int32_t *member) {
    constexpr const char *caller = "RTPNextMember";
    rtperror error = RTP_OK;
    const rtp_member_t *m = iterator_member(context, iterator, caller, &error);
    if (m == nullptr) {
        return error;
    }
    const rtp_member_t *next = iterator->direction == 0 ? m->heard_newer : m->heard_older;
    if (next == nullptr || !m->listed) {
        return end_of_list(context, caller);
    }
    iterator->member = *member = next->id;
    return RTP_OK;
}

namespace {

rtperror receiver_report(int32_t context, int32_t member, rtp_report_iterator_t *iterator,
                         rtp_report_t *report, bool first) {
    const char *caller =
        first ? "RTPSenderInfoGetFirstReceiverReport" : "RTPSenderInfoGetNextReceiverReport";
    rtperror error = RTP_OK;
    rtp_member_t *m = RTPMemberFind(context, member, caller, &error);
    if (m == nullptr) {
        return error;
    }
    if (m->sender == RTP_SENDER_NONE) {
        return RTPReportError(RTP_NO_SUCH_SENDER, caller, "context %d, person %ld is not a sender",
                              context, static_cast<long>(member));
    }
    auto entry = first ? m->reports.begin() : m->reports.upper_bound(iterator->reporter);
    if (!first && iterator->member != member) {
        entry = m->reports.end();
    }
    if (entry == m->reports.end()) {
        return RTPReportError(RTP_END_OF_LIST, caller, "Last hash entry reached");
    }
    iterator->member = member;
    iterator->reporter = entry->first;
    *report = entry->second;
    return RTP_OK;
}

}  // namespace

rtperror RTPSenderInfoGetFirstReceiverReport(int32_t context, int32_t member,
                                             rtp_report_iterator_t *iterator,
                                             rtp_report_t *report) {
    return receiver_report(context, member, iterator, report, true);
}

rtperror RTPSenderInfoGetNextReceiverReport(int32_t context, int32_t member,
                                            rtp_report_iterator_t *iterator, rtp_report_t *report) {
    return receiver_report(context, member, iterator, report, false);
}

}  // namespace sipline
