// The texts the gateway shows of itself: the status that `sipline status` prints, the Prometheus
// text exposition at /metrics, and the HTML status page at /.
#pragma once

#include <cstdint>
#include <string>

#include "gateway/watch.h"
#include "service/counters.h"

namespace sipline {

inline constexpr int32_t SERVICE_BANS_SHOWN = 64;

// What the gateway is doing now, gathered for one report.
struct service_view_t {
    const char *line_state = "idle";
    const char *registration = "not configured";
    char registration_detail[160] = "";
    bool in_call = false;
    call_report_t call;  // when in_call
    int64_t now_ms = 0;
    double uptime_seconds = 0;
    double start_seconds = 0;  // Unix time the gateway started
    int32_t ban_count = 0;     // bans in force, at most SERVICE_BANS_SHOWN
    gateway_ban_t bans[SERVICE_BANS_SHOWN] = {};
    service_counts_t counts;
};

// Gathers the view from the gateway's door and the counters.
service_view_t ServiceView(service_counters &counters, int64_t started_ms);

std::string StatusText(const service_view_t &view);
std::string LastCallsText(const service_view_t &view);
std::string MetricsText(const service_view_t &view);
std::string StatusPage(const service_view_t &view);

}  // namespace sipline
