#include "service/service.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "gateway/watch.h"
#include "service/call_record.h"
#include "service/cdr_file.h"
#include "service/counters.h"
#include "service/http_server.h"
#include "service/reports.h"
#include "service/status_request.h"
#include "service/status_socket.h"

namespace sipline {
namespace {

// Made by ServiceStart before the gateway's threads start and kept for the life of the process:
// the exit handlers may run while those threads still call the hooks, so nothing is destroyed.
// Published with release once the hooks are registered: the thread that takes the end signals
// was started before, and its exit handler reads them after an acquire.
struct service_t {
    int64_t started_ms = 0;
    service_counters counters;
    cdr_file cdr;
    status_socket status;
    http_server http;
    std::string socket_path;
    std::atomic<bool> socket_made{false};  // the socket at socket_path is this gateway's
};
std::atomic<service_t *> Service{nullptr};

service_t &service() {
    return *Service.load(std::memory_order_acquire);
}

constexpr const char *kStatusUsage =
    "usage: sipline status [--socket PATH | --config FILE] [calls]\n";

void call_ended(void *, const call_report_t *call) {
    service().counters.call_ended(*call);
    service().cdr.write(*call);
}
void sip_request(void *, const char *method) {
    service().counters.request(method);
}
void sip_answer(void *, const char *method, int32_t status) {
    service().counters.answer(method, status);
}
void security_failure(void *, bool authentication) {
    service().counters.security_failure(authentication);
}
void source_banned(void *) {
    service().counters.banned();
}
// The call records go to the file the settings now name: logrotate's postrotate reload makes the
// gateway let go of the file it renamed.
void reloaded(void *, const gateway_settings_t *settings, FILE *err) {
    std::string error;
    if (service().cdr.reopen(settings->log.cdr,
                             CallRecordFormatByName(settings->log.cdr_format.c_str()),
                             &error) != 0) {
        std::fprintf(err, "sipline: reload: cannot open the call records %s; the old file stays\n",
                     error.c_str());
    }
}

std::string status_answer(int32_t request) {
    const service_view_t view = ServiceView(service().counters, service().started_ms);
    return request == STATUS_REQUEST_CALLS ? LastCallsText(view) : StatusText(view);
}

http_answer_t http_answer(const std::string &path) {
    if (path == "/metrics") {
        return {200, "text/plain; version=0.0.4; charset=utf-8",
                MetricsText(ServiceView(service().counters, service().started_ms))};
    }
    if (path == "/") {
        return {200, "text/html; charset=utf-8",
                StatusPage(ServiceView(service().counters, service().started_ms))};
    }
    return {404, "text/plain", "not found: /metrics and / are served\n"};
}

}  // namespace

int ServiceStart(const gateway_settings_t &settings, FILE *err) {
    auto fresh = std::make_unique<service_t>();
    fresh->started_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    std::string error;
    if (!settings.log.cdr.empty()) {
        if (fresh->cdr.open(settings.log.cdr,
                            CallRecordFormatByName(settings.log.cdr_format.c_str()), &error) != 0) {
            std::fprintf(err, "sipline: log.cdr: %s\n", error.c_str());
            return -1;
        }
    }
    fresh->socket_path = settings.service.socket;
    service_t *made = fresh.release();
    // After main's Cleanup, so that this one runs before it (the board's, registered by StartUp,
    // runs first and only puts the line on-hook): the record is written while the call's figures
    // are still there.
    std::atexit(ServiceStop);
    std::at_quick_exit(ServiceStop);
    gateway_watch_t watch{call_ended,    sip_request, sip_answer, security_failure,
                          source_banned, reloaded,    nullptr};
    GatewayWatchRegister(&watch);
    Service.store(made, std::memory_order_release);
    if (!settings.metrics.listen.empty() &&
        service().http.start(settings.metrics.listen, http_answer, &error) != 0) {
        std::fprintf(err, "sipline: metrics.listen: %s\n", error.c_str());
        return -1;
    }
    if (!settings.service.socket.empty()) {
        if (service().status.start(settings.service.socket, status_answer, &error) != 0) {
            std::fprintf(err, "sipline: warning: no status socket: %s\n", error.c_str());
        } else {
            service().socket_made.store(true, std::memory_order_release);
        }
    }
    return 0;
}

void ServiceStop() {
    if (Service.load(std::memory_order_acquire) == nullptr) {
        return;
    }
    GatewayCallInProgressEnded("shutdown");
    static std::once_flag removed;
    std::call_once(removed, [] {
        if (service().socket_made.load(std::memory_order_acquire)) {
            unlink(service().socket_path.c_str());
        }
    });
}

int StatusCommand(int argc, char **argv, FILE *out, FILE *err) {
    std::string path = service_settings_t{}.socket;
    const char *request = "status";
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kStatusUsage, out);
            return 0;
        }
        if ((argument == "--socket" || argument == "--config") && i + 1 < argc) {
            if (argument == "--socket") {
                path = argv[++i];
                continue;
            }
            gateway_settings_t settings;
            settings_error_t error;
            if (SettingsRead(argv[++i], &settings, &error) != 0) {
                std::fprintf(err, "sipline: %s\n", SettingsErrorText(error).c_str());
                return 2;
            }
            path = settings.service.socket;
        } else if (argument == "calls") {
            request = "calls";
        } else {
            std::fprintf(err, "sipline: unexpected %s\n%s", argv[i], kStatusUsage);
            return 2;
        }
    }
    if (path.empty()) {
        std::fprintf(err, "sipline: no status socket is configured ([service] socket)\n");
        return 1;
    }
    return StatusAsk(path, request, out, err);
}

}  // namespace sipline
