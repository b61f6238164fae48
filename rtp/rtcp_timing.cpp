#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <memory>
#include <optional>
#include <string>

#include "rtp/members_internal.h"
#include "rtp/rtcp_build.h"
#include "rtp/rtcp_internal.h"
#include "rtp/rtcp_interval.h"
#include "rtp/rtcp_timing.h"
#include "rtp/sockets_internal.h"

namespace sipline {

// Created by the schedule step, kept by the application, owned again by RTPExecute.
struct rtp_event_t {
    int32_t context = 0;
    int32_t kind = 0;
    uint32_t ssrc = 0;
    std::optional<std::string> reason;
    uint64_t serial = 0;  // of the context that made it
    uint64_t run = 0;     // regular reports: the opening of the connection they belong to
};

namespace {

constexpr double busy_retry_seconds = 0.1;

double draw_factor() {
    return random_uniform() + 0.5;
}

double interval(rtp_context_t *ctx, bool as_sender) {
    if (ctx->initial) {
        ctx->average_rtcp_size = RTCP_INITIAL_AVG_SIZE;
    }
    rtcp_interval_input_t in{};
    in.session_bandwidth = ctx->bandwidth;
    in.rtcp_fraction = ctx->rtcp_fraction;
    in.sender_share = ctx->sender_share;
    in.avg_rtcp_size = ctx->average_rtcp_size;
    in.members = ctx->members.confirmed;
    in.senders = ctx->active.senders;
    in.as_sender = as_sender;
    return rtcp_interval(in);
}

bool own_sends(const rtp_context_t *ctx) {
    return ctx->own->sender == RTP_SENDER_SENDING;
}

// RFC 1889 section 6.3.1: the size of every compound sent feeds the interval.
void count_sent(rtp_context_t *ctx, std::size_t length) {
    ctx->last_rtcp_size = static_cast<int32_t>(length);
    ctx->average_rtcp_size += (ctx->last_rtcp_size - ctx->average_rtcp_size) / 16.0;
    ctx->own->rtcp_packets++;
}

// The regular report: built, or postponed by reconsideration (RTP_DONT_SEND_NOW).
rtperror build_report(rtp_context_t *ctx, uint8_t *buf, std::size_t room, std::size_t *length) {
    if (ctx->bandwidth == 0.0f || ctx->rtcp_fraction == 0.0f) {
        return RTP_DONT_SEND_NOW;
    }
    const int32_t members = ctx->members.confirmed;
    const bool grew = members > ctx->reconsideration_members;
    const bool modes_send_at_once = ctx->reconsideration == 1 || ctx->reconsideration == 2;
    ctx->reconsideration_members = members;
    if (!(modes_send_at_once && !grew)) {
        // Timer reconsideration: the time is drawn again against the membership of now.
        ctx->random_factor = draw_factor();
        timeval due =
            rtp_time_add(ctx->last_rtcp, interval(ctx, own_sends(ctx)) * ctx->random_factor);
        if (!rtp_time_reached(rtp_now(), due)) {
            RTCPSchedule(ctx, RTP_EVENT_KIND_REPORT, 0, nullptr, due);
            return RTP_DONT_SEND_NOW;
        }
    }
    if (ctx->initial && ctx->packets_sent == 0) {
        RTPChooseSSRC(ctx);
    }
    ctx->initial = 0;
    *length = RTCPBuildReport(ctx, buf, room);
    count_sent(ctx, *length);
    RTCPMemberTimeouts(ctx);
    ctx->random_factor = draw_factor();
    ctx->last_rtcp = rtp_now();
    RTCPSchedule(ctx, RTP_EVENT_KIND_REPORT, 0, nullptr,
                 rtp_time_add(ctx->last_rtcp, interval(ctx, own_sends(ctx)) * ctx->random_factor));
    return RTP_OK;
}

rtperror build_bye(rtp_context_t *ctx, const rtp_event_t &event, uint8_t *buf, std::size_t room,
                   std::size_t *length) {
    // RFC 1889 section 6.3.7: a participant that never sent anything leaves silently.
    if (ctx->initial && ctx->packets_sent == 0) {
        return RTP_BYE_NOT_SENT;
    }
    ctx->initial = 0;
    const char *reason = event.reason ? event.reason->c_str() : nullptr;
    *length = RTCPBuildBye(ctx, buf, room, event.kind == RTP_EVENT_KIND_BYE, event.ssrc, reason);
    count_sent(ctx, *length);
    return RTP_OK;
}

void report_send_failure(rtp_context_t *ctx, const rtp_address_t &to) {
    rtp_session_t &session = *ctx->session;
    if (session.send_error == nullptr) {
        return;
    }
    char text[INET_ADDRSTRLEN] = "";
    in_addr address{to.address};
    inet_ntop(AF_INET, &address, text, sizeof text);
    session.send_error(ctx->number, text, ntohs(to.port), to.ttl);
}

void send_compound(rtp_context_t *ctx, const uint8_t *buf, std::size_t length) {
    rtp_session_t &session = *ctx->session;
    bool clean = false;
    for (const rtp_address_t &to : session.send_addresses) {
        if (to.removed) {
            clean = true;
            continue;
        }
        iovec entry{const_cast<uint8_t *>(buf), length};
        msghdr message{};
        message.msg_iov = &entry;
        message.msg_iovlen = 1;
        message.msg_name = to.shared != 0 ? const_cast<sockaddr_in *>(&to.rtcp_to) : nullptr;
        message.msg_namelen = to.shared != 0 ? sizeof to.rtcp_to : 0;
        bool refused = false;
        if (rtp_socket_send(to.rtcp_socket, &message, &refused) != static_cast<ssize_t>(length) ||
            refused) {
            report_send_failure(ctx, to);
        }
    }
    if (clean) {
        session.send_addresses.remove_if([](const rtp_address_t &a) {
            if (!a.removed) {
                return false;
            }
            for (int s : {a.rtp_socket, a.rtcp_socket}) {
                if (s >= 0) {
                    ::close(s);
                }
            }
            return true;
        });
    }
}

}  // namespace

rtperror RTPExecute(int32_t context, rtp_event_t *event) {
    // The engine owns the event again from here on, whatever the outcome.
    std::unique_ptr<rtp_event_t> owned(event);
    static constexpr char caller[] = "RTPExecute";
    rtperror error = RTP_OK;
    rtp_context_t *ctx = RTPContextFind(context, caller, &error);
    if (ctx == nullptr) {
        return error;
    }
    if (event == nullptr) {
        return RTPReportError(RTP_BAD_VALUE, caller, "context %d, no event", context);
    }
    if (event->context != context) {
        return RTPReportError(RTP_UNKNOWN_CONTEXT, caller,
                              "context %d in arg != context %d in opaque", context, event->context);
    }
    if (event->serial != ctx->serial) {
        // The context it was made for is gone and its number taken by another one.
        return RTPReportError(RTP_UNKNOWN_CONTEXT, caller,
                              "context %d, event of a destroyed context", context);
    }
    if (!ctx->session) {
        return RTPReportError(RTP_SOCKET_NOT_OPEN, caller, "context %d, connection not yet opened.",
                              context);
    }
    rtp_busy_guard busy(ctx->session->busy);
    if (!busy.taken()) {
        // A media thread is inside the engine: try again shortly rather than end the chain of
        // reports (or lose a BYE) for the rest of the session.
        timeval retry = rtp_time_add(rtp_now(), busy_retry_seconds);
        ScheduleRTPEvent(context, owned.release(), &retry);
        return RTPBusyError(ctx, caller);
    }
    if (event->kind == RTP_EVENT_KIND_REPORT &&
        event->run != ctx->rtcp_run.load(std::memory_order_relaxed)) {
        return RTP_OK;  // a report of an earlier opening: its chain ends here
    }
    auto *buf = reinterpret_cast<uint8_t *>(ctx->session->buffer.data());
    const std::size_t room = ctx->session->buffer.size();
    std::size_t length = 0;
    rtperror result = event->kind == RTP_EVENT_KIND_REPORT
                          ? build_report(ctx, buf, room, &length)
                          : build_bye(ctx, *event, buf, room, &length);
    if (result == RTP_DONT_SEND_NOW) {
        return RTP_OK;
    }
    if (result != RTP_OK) {
        return result;
    }
    if (length > 0) {
        send_compound(ctx, buf, length);
    }
    return RTP_OK;
}

void RTPDiscardEvent(rtp_event_t *event) {
    delete event;
}

void RTCPSchedule(rtp_context_t *ctx, int32_t kind, uint32_t ssrc, const char *reason,
                  const timeval &due) {
    auto event = std::make_unique<rtp_event_t>();
    event->context = ctx->number;
    event->kind = kind;
    event->ssrc = ssrc;
    if (reason != nullptr) {
        event->reason = reason;
    }
    event->serial = ctx->serial;
    event->run = ctx->rtcp_run.load(std::memory_order_relaxed);
    if (ctx->session && ctx->session->busy.load(std::memory_order_acquire) == 0 &&
        rtp_time_reached(rtp_now(), due)) {
        RTPExecute(ctx->number, event.release());
        return;
    }
    ScheduleRTPEvent(ctx->number, event.release(), &due);
}

void RTCPStart(rtp_context_t *ctx) {
    ctx->timestamp_advance = 0;
    ctx->initial = 1;
    ctx->packets_sent = 0;
    ctx->octets_sent = 0;
    ctx->last_rtcp = rtp_now();
    ctx->random_factor = draw_factor();
    ctx->rtcp_run.fetch_add(1, std::memory_order_relaxed);
    if (ctx->bandwidth != 0.0f && ctx->rtcp_fraction != 0.0f) {
        RTCPSchedule(
            ctx, RTP_EVENT_KIND_REPORT, 0, nullptr,
            rtp_time_add(ctx->last_rtcp, interval(ctx, own_sends(ctx)) * ctx->random_factor));
    }
}

void RTCPEnd(rtp_context_t *ctx, const char *reason) {
    RTCPSchedule(ctx, RTP_EVENT_KIND_BYE, 0, reason, rtp_now());
}

double RTCPInterval(rtp_context_t *ctx, bool as_sender) {
    return interval(ctx, as_sender);
}

// An application that schedules nothing (a test of the RTP side, a tool) still links; its
// events are dropped, which ends the chain of reports.
__attribute__((weak)) void ScheduleRTPEvent(int32_t, rtp_event_t *event, const timeval *) {
    delete event;
}

}  // namespace sipline
