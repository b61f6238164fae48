#include "service/reports.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <string_view>

#include "service/call_record.h"

namespace sipline {
namespace {

std::string format(const char *pattern, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

std::string address(uint32_t source) {
    in_addr a{htonl(source)};
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::string duration(int64_t ms) {
    const int64_t s = ms / 1000;
    if (s >= 86400) {
        return format("%" PRId64 "d %02" PRId64 ":%02" PRId64 ":%02" PRId64, s / 86400,
                      s / 3600 % 24, s / 60 % 60, s % 60);
    }
    return format("%02" PRId64 ":%02" PRId64 ":%02" PRId64, s / 3600, s / 60 % 60, s % 60);
}

double percent(int64_t part, int64_t whole) {
    return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0;
}

// Of a call in progress: since the answer, or since the start before it.
int64_t call_ms(const call_report_t &call, int64_t now_ms) {
    const int64_t from = call.answer_ms != 0 ? call.answer_ms : call.start_ms;
    return (call.end_ms != 0 ? call.end_ms : now_ms) - from;
}

// Prometheus text format 0.0.4: label values escape backslash, quote and line feed.
std::string label(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

// HTML text and attribute values.
std::string html(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

void metric(std::string &out, const char *name, const char *type, const char *help) {
    out += format("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

constexpr const char *LINE_STATES[] = {"idle",      "taking a number", "dialling",
                                       "answering", "connected",       "calling",
                                       "ringing",   "busy tone",       "ending"};
constexpr const char *DIRECTIONS[] = {CALL_SIP_TO_LINE, CALL_LINE_TO_SIP};
constexpr const char *OUTCOMES[] = {"answered", "unanswered", "refused"};

}  // namespace

service_view_t ServiceView(service_counters &counters, int64_t started_ms) {
    service_view_t view;
    view.now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    view.uptime_seconds = static_cast<double>(view.now_ms - started_ms) / 1000;
    view.start_seconds = static_cast<double>(started_ms) / 1000;
    view.line_state = GatewayLineState();
    GatewayRegistration(&view.registration, view.registration_detail,
                        sizeof view.registration_detail);
    view.in_call = GatewayCurrentCall(&view.call);
    view.ban_count = GatewayBans(view.bans, SERVICE_BANS_SHOWN);
    view.counts = counters.snapshot();
    return view;
}

std::string StatusText(const service_view_t &v) {
    std::string out;
    out += format("uptime:        %s\n",
                  duration(static_cast<int64_t>(v.uptime_seconds * 1000)).c_str());
    out += format("line:          %s\n", v.line_state);
    out += format("registration:  %s%s%s%s\n", v.registration,
                  v.registration_detail[0] != '\0' ? " (" : "", v.registration_detail,
                  v.registration_detail[0] != '\0' ? ")" : "");
    if (!v.in_call) {
        out += "call:          none\n";
    } else {
        const call_report_t &c = v.call;
        const media_figures_t &m = c.media;
        out += format("call:          %s, %s\n", c.direction,
                      c.answer_ms != 0 ? "answered" : "not answered");
        out += format("  caller:      %s\n", c.caller);
        out += format("  number:      %s\n", c.number);
        out += format("  codec:       %s\n", c.codec[0] != '\0' ? c.codec : "-");
        out += format("  duration:    %s\n", duration(call_ms(c, v.now_ms)).c_str());
        out += format("  sent:        %" PRId64 " packets, %s\n", m.sent,
                      m.remote_lost < 0 ? "no report of loss from the caller yet"
                                        : format("%" PRId64 " lost (%.1f%%) by the caller's report",
                                                 m.remote_lost, percent(m.remote_lost, m.sent))
                                              .c_str());
        out += format("  received:    %" PRId64 " packets, %" PRId64
                      " lost (%.1f%%), jitter %.1f ms\n",
                      m.received, m.lost, percent(m.lost, m.received + m.lost), m.jitter_ms);
    }
    if (v.ban_count == 0) {
        out += "bans:          none\n";
    }
    for (int32_t i = 0; i < v.ban_count; ++i) {
        out += format("%s%s, %.0f s left\n", i == 0 ? "bans:          " : "               ",
                      address(v.bans[i].source).c_str(), v.bans[i].seconds_left);
    }
    return out;
}

std::string LastCallsText(const service_view_t &v) {
    std::string out;
    for (const call_report_t &c : v.counts.last_calls) {
        const call_quality_t q = CallQuality(c);
        out += format("%s  %-11s  %s -> %s  %s  %s (%s)  MOS %.2f\n",
                      CallRecordTime(c.start_ms).c_str(), c.direction, c.caller, c.number,
                      duration(call_ms(c, c.end_ms)).c_str(), c.end_reason, c.end_side, q.mos);
    }
    return out.empty() ? "no calls yet\n" : out;
}

std::string MetricsText(const service_view_t &v) {
    const service_counts_t &n = v.counts;
    std::string out;
    metric(out, "sipline_start_time_seconds", "gauge", "Unix time the gateway started.");
    out += format("sipline_start_time_seconds %.3f\n", v.start_seconds);
    metric(out, "sipline_line_state", "gauge", "1 for the state the line is in.");
    for (const char *state : LINE_STATES) {
        out += format("sipline_line_state{state=\"%s\"} %d\n", state,
                      std::string_view(state) == v.line_state ? 1 : 0);
    }
    metric(out, "sipline_registration_state", "gauge", "1 for the registration's state.");
    out += format("sipline_registration_state{state=\"%s\"} 1\n", label(v.registration).c_str());
    metric(out, "sipline_calls_total", "counter", "Calls ended, by direction and outcome.");
    for (const char *direction : DIRECTIONS) {
        for (const char *outcome : OUTCOMES) {
            const auto found = n.calls.find({direction, outcome});
            out += format("sipline_calls_total{direction=\"%s\",outcome=\"%s\"} %" PRId64 "\n",
                          direction, outcome, found != n.calls.end() ? found->second : 0);
        }
    }
    metric(out, "sipline_call_in_progress", "gauge", "1 while a call is in progress.");
    out += format("sipline_call_in_progress %d\n", v.in_call ? 1 : 0);
    metric(out, "sipline_sip_requests_total", "counter", "SIP requests received, by method.");
    for (const auto &[method, count] : n.requests) {
        out += format("sipline_sip_requests_total{method=\"%s\"} %" PRId64 "\n", method.c_str(),
                      count);
    }
    metric(out, "sipline_sip_answers_total", "counter", "SIP answers sent, by method and code.");
    for (const auto &[key, count] : n.answers) {
        out += format("sipline_sip_answers_total{method=\"%s\",code=\"%d\"} %" PRId64 "\n",
                      key.first.c_str(), key.second, count);
    }
    metric(out, "sipline_auth_failures_total", "counter", "Requests whose credentials failed.");
    out += format("sipline_auth_failures_total %" PRId64 "\n", n.auth_failures);
    metric(out, "sipline_security_refusals_total", "counter",
           "Requests refused for their source or number.");
    out += format("sipline_security_refusals_total %" PRId64 "\n", n.refusals);
    metric(out, "sipline_bans_total", "counter", "Sources banned.");
    out += format("sipline_bans_total %" PRId64 "\n", n.bans);
    metric(out, "sipline_bans_active", "gauge", "Bans in force.");
    out += format("sipline_bans_active %d\n", v.ban_count);
    const media_figures_t m = v.in_call ? v.call.media : media_figures_t{};
    metric(out, "sipline_call_rtp_packets", "gauge",
           "RTP packets of the current call, sent to and received from the caller.");
    out += format("sipline_call_rtp_packets{direction=\"sent\"} %" PRId64 "\n", m.sent);
    out += format("sipline_call_rtp_packets{direction=\"received\"} %" PRId64 "\n", m.received);
    metric(out, "sipline_call_rtp_lost", "gauge",
           "RTP packets of the current call lost: the caller's as counted here, the gateway's as "
           "the caller reports.");
    out += format("sipline_call_rtp_lost{direction=\"received\"} %" PRId64 "\n", m.lost);
    out += format("sipline_call_rtp_lost{direction=\"sent\"} %" PRId64 "\n",
                  m.remote_lost < 0 ? 0 : m.remote_lost);
    metric(out, "sipline_call_jitter_seconds", "gauge",
           "Interarrival jitter of the current call's received audio.");
    out += format("sipline_call_jitter_seconds %.6f\n", m.jitter_ms / 1000);
    // Of the last call that carried audio: a refused one has no quality to show.
    const auto answered = std::find_if(n.last_calls.begin(), n.last_calls.end(),
                                       [](const call_report_t &c) { return c.answer_ms != 0; });
    if (answered != n.last_calls.end()) {
        const call_quality_t q = CallQuality(*answered);
        metric(out, "sipline_last_call_mos", "gauge",
               "E-model MOS estimate of the last answered call.");
        out += format("sipline_last_call_mos %.2f\n", q.mos);
        metric(out, "sipline_last_call_r_factor", "gauge", "E-model R of the last answered call.");
        out += format("sipline_last_call_r_factor %.2f\n", q.rating);
    }
    return out;
}

std::string StatusPage(const service_view_t &v) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"refresh\" content=\"5\"><title>sipline</title><style>"
        "body{font-family:sans-serif;margin:2em;color:#222}"
        "table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:.25em .6em;"
        "text-align:left;white-space:nowrap}td.why{white-space:normal;max-width:14em}th{background:"
        "#eee}h1{font-size:1.4em}h2{font-size:1."
        "1em;margin-top:1.5em}"
        "</style></head><body>\n<h1>sipline</h1>\n";
    out += "<table>\n";
    out += "<tr><th>Line</th><td>" + html(v.line_state) + "</td></tr>\n";
    out += "<tr><th>Registration</th><td>" + html(v.registration) +
           (v.registration_detail[0] != '\0' ? " (" + html(v.registration_detail) + ")" : "") +
           "</td></tr>\n";
    out += "<tr><th>Up for</th><td>" + duration(static_cast<int64_t>(v.uptime_seconds * 1000)) +
           "</td></tr>\n";
    out += format("<tr><th>Bans in force</th><td>%d</td></tr>\n</table>\n", v.ban_count);
    out += "<h2>Call in progress</h2>\n";
    if (!v.in_call) {
        out += "<p>None.</p>\n";
    } else {
        const call_report_t &c = v.call;
        const media_figures_t &m = c.media;
        out += "<table>\n<tr><th>Direction</th><td>" + html(c.direction) + "</td></tr>\n";
        out += "<tr><th>Caller</th><td>" + html(c.caller) + "</td></tr>\n";
        out += "<tr><th>Number</th><td>" + html(c.number) + "</td></tr>\n";
        out += "<tr><th>Codec</th><td>" + html(c.codec) + "</td></tr>\n";
        out += "<tr><th>Duration</th><td>" + duration(call_ms(c, v.now_ms)) + "</td></tr>\n";
        out += format("<tr><th>Sent</th><td>%" PRId64 " packets</td></tr>\n", m.sent);
        out += format("<tr><th>Received</th><td>%" PRId64 " packets, %" PRId64
                      " lost, jitter %.1f ms</td></tr>\n</table>\n",
                      m.received, m.lost, m.jitter_ms);
    }
    out += "<h2>Last calls</h2>\n";
    if (v.counts.last_calls.empty()) {
        out += "<p>None yet.</p>\n";
    } else {
        out +=
            "<table>\n<tr><th>Start</th><th>Direction</th><th>Caller</th><th>Number</th>"
            "<th>Codec</th><th>Duration</th><th>End</th><th>Loss</th><th>Jitter</th>"
            "<th>R</th><th>MOS</th></tr>\n";
        for (const call_report_t &c : v.counts.last_calls) {
            const call_quality_t q = CallQuality(c);
            // "2026-12-09 21:40:01": the record's time to the second, for reading.
            std::string start = CallRecordTime(c.start_ms).substr(0, 19);
            std::replace(start.begin(), start.end(), 'T', ' ');
            out += "<tr><td>" + html(start) + " UTC</td><td>" + html(c.direction) + "</td><td>" +
                   html(c.caller) + "</td><td>" + html(c.number) + "</td><td>" + html(c.codec) +
                   "</td><td>" + duration(call_ms(c, c.end_ms)) + "</td><td class=\"why\">" +
                   html(c.end_reason) + " (" + html(c.end_side) + ")</td>";
            // A call without audio has no quality to show.
            out += c.answer_ms == 0
                       ? std::string("<td>-</td><td>-</td><td>-</td><td>-</td></tr>\n")
                       : format("<td>%.1f%%</td><td>%.1f ms</td><td>%.1f</td><td>%.2f</td></tr>\n",
                                q.loss_percent, c.media.jitter_ms, q.rating, q.mos);
        }
        out += "</table>\n";
    }
    out += "</body></html>\n";
    return out;
}

}  // namespace sipline
